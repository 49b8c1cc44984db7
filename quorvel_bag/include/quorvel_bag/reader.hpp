// Reads a bag in ROS 2 Humble's format (sqlite3 storage, metadata.yaml versions 1 to 5), as
// `ros2 bag record` writes it or BagWriter does.
#ifndef QUORVEL_BAG__READER_HPP_
#define QUORVEL_BAG__READER_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel_bag/metadata.hpp"
#include "quorvel_bag/qos_profile.hpp"

namespace quorvel_bag
{

namespace detail
{
class Database;
}

/// A topic of the bag: what metadata.yaml says of it, with its offers parsed.
struct BagTopic
{
  std::string name;
  std::string type;
  std::string serialization_format;
  std::string offered_qos_profiles;     // the text as stored
  std::vector<OfferedQos> offered_qos;  // parsed from it
  std::uint64_t message_count = 0;      // per metadata.yaml
};

/// One message. `id` is its row id in its database file (`file_index` into
/// BagMetadata::relative_file_paths; 0 unless the bag was split).
struct BagMessage
{
  std::size_t file_index = 0;
  std::int64_t id = 0;
  const BagTopic * topic = nullptr;  // valid while the reader lives
  std::int64_t timestamp_ns = 0;
  std::vector<std::uint8_t> data;  // serialized, encapsulation header included
};

/// Which messages to read: only these topics (all when empty), receive times in
/// [from_ns, until_ns).
struct MessageFilter
{
  std::vector<std::string> topics;
  std::optional<std::int64_t> from_ns;
  std::optional<std::int64_t> until_ns;
};

class BagReader;

/// Messages in receive-time order (ties in row order), read as they are asked for. A row whose
/// topic id no topic has, or a database that turns out to be damaged, throws BagError naming
/// the bag, the file and the message id; nothing is returned from such a row. One thread at a
/// time; the reader must outlive it.
class MessageCursor
{
public:
  MessageCursor(MessageCursor &&) noexcept;
  MessageCursor & operator=(MessageCursor &&) noexcept;
  ~MessageCursor();

  /// The next message into `message`; false at the end.
  bool next(BagMessage & message);

private:
  friend class BagReader;
  struct Impl;
  explicit MessageCursor(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// Opening checks the bag before anything is read from it: metadata.yaml present and well
/// formed, every database file there, an SQLite database, not truncated, with the tables of a
/// bag, and its topics those of metadata.yaml. Each failure throws BagError naming the bag and
/// what is wrong. The databases are opened read-only. A bag compressed with zstd (as `ros2 bag
/// record --compression-format zstd` makes it) is read as well: in FILE mode each database is
/// decompressed into a temporary directory, removed with the reader; in MESSAGE mode each
/// message as it is read.
///
/// Methods are const and may be called from one thread at a time.
class BagReader
{
public:
  explicit BagReader(const std::filesystem::path & bag_dir);
  ~BagReader();

  BagReader(const BagReader &) = delete;
  BagReader & operator=(const BagReader &) = delete;

  const std::filesystem::path & directory() const { return directory_; }
  /// The bag's name in messages.
  const std::string & label() const { return label_; }
  const BagMetadata & metadata() const { return metadata_; }
  const std::vector<BagTopic> & topics() const { return topics_; }
  /// nullptr when the bag has no such topic.
  const BagTopic * find_topic(const std::string & name) const;
  /// Bytes of the database files (and their journals).
  std::uintmax_t size_bytes() const;

  /// A cursor over the messages the filter selects. Throws BagError for a topic the bag does
  /// not have.
  MessageCursor messages(const MessageFilter & filter = {}) const;

  /// Counts the messages of each topic in the databases (a full scan) and compares them with
  /// metadata.yaml; throws BagError when they differ (stale metadata: reindex rebuilds it) or
  /// when a message's topic id belongs to no topic.
  void check_counts() const;

private:
  friend class MessageCursor;
  struct File;

  std::filesystem::path directory_;
  std::string label_;
  BagMetadata metadata_;
  std::vector<BagTopic> topics_;
  std::vector<std::unique_ptr<File>> files_;
  // FILE-compressed bags: where their databases were decompressed (empty otherwise).
  std::filesystem::path scratch_;
  bool message_compressed_ = false;
};

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__READER_HPP_
