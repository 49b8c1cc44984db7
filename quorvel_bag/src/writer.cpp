#include "quorvel_bag/writer.hpp"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include <sqlite3.h>

#include "database.hpp"
#include "quorvel_bag/bag_error.hpp"

namespace quorvel_bag
{

namespace
{

// The tables of ROS 2 Humble's sqlite3 storage, schema version 3, as its writer creates them.
constexpr char kCreateSchema[] =
    "CREATE TABLE schema(schema_version INTEGER PRIMARY KEY, ros_distro TEXT NOT NULL);"
    "CREATE TABLE metadata(id INTEGER PRIMARY KEY, metadata_version INTEGER NOT NULL,"
    " metadata TEXT NOT NULL);"
    "CREATE TABLE topics(id INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL,"
    " serialization_format TEXT NOT NULL, offered_qos_profiles TEXT NOT NULL);"
    "CREATE TABLE messages(id INTEGER PRIMARY KEY, topic_id INTEGER NOT NULL,"
    " timestamp INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE INDEX timestamp_idx ON messages (timestamp ASC);"
    "INSERT INTO schema (schema_version, ros_distro) VALUES (3, 'humble');";

std::uintmax_t size_or_zero(const std::filesystem::path & file)
{
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

}  // namespace

BagWriter::BagWriter(const std::filesystem::path & bag_dir, std::size_t batch_size)
    : directory_(bag_dir),
      label_(bag_label(bag_dir)),
      batch_size_(std::max<std::size_t>(batch_size, 1))
{
  std::error_code ec;
  if (std::filesystem::exists(directory_, ec) || std::filesystem::is_symlink(directory_, ec)) {
    throw BagError(
        "bag '" + label_ + "': '" + label_ +
        "' already exists (a bag is never written over an "
        "existing path): choose another name");
  }
  if (!std::filesystem::create_directory(directory_, ec)) {
    throw BagError(
        "bag '" + label_ + "': cannot create the directory: " +
            (ec ? ec.message() : std::string("it appeared meanwhile")),
        ec == std::errc::no_space_on_device);
  }
  const std::string name = std::filesystem::path(label_).filename().string();
  database_path_ = directory_ / (name + "_0.db3");
  try {
    db_ = std::make_unique<detail::Database>(database_path_, detail::Database::Mode::kCreate);
    // WAL keeps the file consistent if the recorder dies; close() returns it to a rollback
    // journal, the form Humble's default writer leaves.
    db_->exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    db_->exec(std::string("BEGIN;") + kCreateSchema + "COMMIT;");
    insert_ = std::make_unique<detail::Statement>(
        *db_, "INSERT INTO messages (topic_id, timestamp, data) VALUES (?1, ?2, ?3)");
  } catch (const detail::SqliteError & error) {
    insert_.reset();
    db_.reset();
    std::filesystem::remove_all(directory_, ec);
    throw BagError(
        "bag '" + label_ + "': cannot create " + database_path_.filename().string() + ": " +
            error.what(),
        error.disk_full());
  }
}

BagWriter::~BagWriter()
{
  try {
    close();
  } catch (...) {
    // Nothing more can be done here; what was committed stays in the database.
  }
}

std::int64_t BagWriter::add_topic(const TopicMetadata & topic)
{
  if (failed_ || closed_) {
    throw BagError(
        "bag '" + label_ + "': no more topics after " + (closed_ ? "close" : "a failed write"));
  }
  for (const auto & entry : topics_) {
    if (entry.second.metadata.name == topic.name) {
      throw BagError("bag '" + label_ + "': topic '" + topic.name + "' added twice");
    }
  }
  try {
    detail::Statement insert(
        *db_,
        "INSERT INTO topics (name, type, serialization_format, offered_qos_profiles) "
        "VALUES (?1, ?2, ?3, ?4)");
    insert.bind(1, topic.name);
    insert.bind(2, topic.type);
    insert.bind(3, topic.serialization_format);
    insert.bind(4, topic.offered_qos_profiles);
    insert.step();
  } catch (const detail::SqliteError & error) {
    fail("cannot add topic '" + topic.name + "' to " + database_path_.filename().string(), error);
  }
  const std::int64_t id = sqlite3_last_insert_rowid(db_->handle());
  topics_[id] = TopicState{topic, 0, 0};
  return id;
}

void BagWriter::begin_batch()
{
  try {
    db_->exec("BEGIN");
  } catch (const detail::SqliteError & error) {
    fail("cannot write to " + database_path_.filename().string(), error);
  }
  in_batch_ = true;
  batch_count_ = 0;
  batch_first_ns_ = kNoStartingTime;
  batch_last_ns_ = 0;
}

void BagWriter::write(
    std::int64_t topic_id, std::int64_t timestamp_ns, const std::uint8_t * data, std::size_t size)
{
  if (failed_ || closed_) {
    throw BagError(
        "bag '" + label_ + "': no more messages after " + (closed_ ? "close" : "a failed write"));
  }
  const auto topic = topics_.find(topic_id);
  if (topic == topics_.end()) {
    throw BagError("bag '" + label_ + "': no topic has id " + std::to_string(topic_id));
  }
  if (!in_batch_) {
    begin_batch();
  }
  try {
    insert_->bind(1, topic_id);
    insert_->bind(2, timestamp_ns);
    insert_->bind_blob(3, data, size);
    insert_->step();
    insert_->reset();
  } catch (const detail::SqliteError & error) {
    fail("cannot write to " + database_path_.filename().string(), error);
  }
  ++topic->second.pending;
  ++written_;
  ++batch_count_;
  batch_first_ns_ = std::min(batch_first_ns_, timestamp_ns);
  batch_last_ns_ = std::max(batch_last_ns_, timestamp_ns);
  if (batch_count_ >= batch_size_) {
    commit();
  }
}

void BagWriter::commit()
{
  if (!in_batch_ || failed_) {
    return;
  }
  try {
    db_->exec("COMMIT");
  } catch (const detail::SqliteError & error) {
    fail("cannot write to " + database_path_.filename().string(), error);
  }
  in_batch_ = false;
  for (auto & entry : topics_) {
    entry.second.committed += entry.second.pending;
    entry.second.pending = 0;
  }
  committed_ += batch_count_;
  if (batch_count_ > 0) {
    first_committed_ns_ = std::min(first_committed_ns_, batch_first_ns_);
    last_committed_ns_ = std::max(last_committed_ns_, batch_last_ns_);
  }
  batch_count_ = 0;
}

void BagWriter::fail(const std::string & what, const detail::SqliteError & error)
{
  failed_ = true;
  if (in_batch_) {
    try {
      db_->exec("ROLLBACK");
    } catch (const detail::SqliteError &) {
      // SQLite may have rolled back already; the committed batches are untouched either way.
    }
    in_batch_ = false;
  }
  for (auto & entry : topics_) {
    written_ -= entry.second.pending;
    entry.second.pending = 0;
  }
  batch_count_ = 0;
  throw BagError("bag '" + label_ + "': " + what + ": " + error.what(), error.disk_full());
}

BagMetadata BagWriter::build_metadata() const
{
  BagMetadata metadata;
  const std::string file = database_path_.filename().string();
  metadata.message_count = committed_;
  if (committed_ > 0) {
    metadata.starting_time_ns = first_committed_ns_;
    metadata.duration_ns = last_committed_ns_ - first_committed_ns_;
  }
  for (const auto & entry : topics_) {
    metadata.topics_with_message_count.push_back(
        TopicWithCount{entry.second.metadata, entry.second.committed});
  }
  metadata.relative_file_paths.push_back(file);
  metadata.files.push_back(
      FileInformation{file, metadata.starting_time_ns, metadata.duration_ns, committed_});
  return metadata;
}

BagMetadata BagWriter::close()
{
  if (closed_) {
    return closed_metadata_;
  }
  std::string close_failure;
  bool close_disk_full = false;
  try {
    commit();
  } catch (const BagError & error) {
    close_failure = error.what();
    close_disk_full = error.disk_full();
  }
  closed_ = true;
  insert_.reset();
  if (failed_) {
    db_->keep_wal_on_close();
  } else {
    try {
      db_->exec("PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode=DELETE;");
    } catch (const detail::SqliteError &) {
      // The bag stays in WAL mode, every committed message in it; SQLite reads it as it is.
    }
  }
  db_.reset();
  closed_metadata_ = build_metadata();
  write_metadata(directory_, closed_metadata_);
  if (!close_failure.empty()) {
    throw BagError(close_failure, close_disk_full);
  }
  return closed_metadata_;
}

std::uint64_t BagWriter::message_count(std::int64_t topic_id) const
{
  const auto topic = topics_.find(topic_id);
  return topic == topics_.end() ? 0 : topic->second.committed + topic->second.pending;
}

std::uintmax_t BagWriter::size_bytes() const
{
  return size_or_zero(database_path_) + size_or_zero(database_path_.string() + "-wal") +
         size_or_zero(database_path_.string() + "-journal");
}

}  // namespace quorvel_bag
