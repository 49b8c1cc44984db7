// Writes a bag as ROS 2 Humble's `ros2 bag record` does with sqlite3 storage: a new directory
// with `<name>_0.db3` (schema version 3) and, when closed, metadata.yaml.
#ifndef QUORVEL_BAG__WRITER_HPP_
#define QUORVEL_BAG__WRITER_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quorvel_bag/metadata.hpp"

namespace quorvel_bag
{

namespace detail
{
class Database;
class Statement;
class SqliteError;
}  // namespace detail

/// Messages go into the database in transactions of up to `batch_size` messages: a process
/// killed at any moment leaves a consistent database holding every committed batch (the
/// database runs in WAL mode until close, then becomes a plain rollback-journal file like
/// Humble's). metadata.yaml is written by close(); without it, `reindex` rebuilds it.
///
/// Not thread-safe: one thread at a time. Every failure throws BagError naming the bag; after a
/// failed write (a full disk: disk_full()) only close() may be called, which keeps what was
/// committed.
class BagWriter
{
public:
  /// Creates `bag_dir` (its parent must exist; an existing path is refused, nothing is
  /// overwritten) and `<dir name>_0.db3` in it.
  explicit BagWriter(const std::filesystem::path & bag_dir, std::size_t batch_size = 1000);
  /// Closes the bag if close() was not called, ignoring errors.
  ~BagWriter();

  BagWriter(const BagWriter &) = delete;
  BagWriter & operator=(const BagWriter &) = delete;

  /// Adds a topic to the `topics` table and returns its id. A topic name may appear once.
  std::int64_t add_topic(const TopicMetadata & topic);

  /// Adds one message: `data` is the serialized message exactly as received (CDR encapsulation
  /// header included), `timestamp_ns` its receive time in ns since the epoch. Commits the batch
  /// once it is full.
  void write(
      std::int64_t topic_id,
      std::int64_t timestamp_ns,
      const std::uint8_t * data,
      std::size_t size);

  /// Commits the messages written since the last commit.
  void commit();

  /// Commits, closes the database and writes metadata.yaml; returns what it wrote. A second call
  /// returns the same. After a failed write, the failed batch is dropped and the rest is kept;
  /// when metadata.yaml cannot be written (full disk) it throws, and `reindex` can rebuild it.
  BagMetadata close();

  const std::filesystem::path & directory() const { return directory_; }
  const std::filesystem::path & database_path() const { return database_path_; }

  /// Messages written (committed or not) per topic id, and in all.
  std::uint64_t message_count(std::int64_t topic_id) const;
  std::uint64_t message_count() const { return written_; }
  /// Messages committed so far.
  std::uint64_t committed_count() const { return committed_; }
  /// Bytes on disk of the database and its journal.
  std::uintmax_t size_bytes() const;

private:
  struct TopicState
  {
    TopicMetadata metadata;
    std::uint64_t committed = 0;
    std::uint64_t pending = 0;
  };

  void begin_batch();
  [[noreturn]] void fail(const std::string & what, const detail::SqliteError & error);
  BagMetadata build_metadata() const;

  std::filesystem::path directory_;
  std::string label_;
  std::filesystem::path database_path_;
  std::size_t batch_size_;
  std::unique_ptr<detail::Database> db_;
  std::unique_ptr<detail::Statement> insert_;
  std::map<std::int64_t, TopicState> topics_;
  std::int64_t next_topic_id_ = 1;
  bool in_batch_ = false;
  bool failed_ = false;
  bool closed_ = false;
  std::size_t batch_count_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t committed_ = 0;
  std::int64_t first_committed_ns_ = kNoStartingTime;
  std::int64_t last_committed_ns_ = 0;
  std::int64_t batch_first_ns_ = kNoStartingTime;
  std::int64_t batch_last_ns_ = 0;
  BagMetadata closed_metadata_;
};

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__WRITER_HPP_
