#include "quorvel_bag/reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include "database.hpp"
#include "zstd.hpp"
#include "quorvel_bag/bag_error.hpp"

namespace quorvel_bag
{

struct BagReader::File
{
  std::string name;  // as metadata.yaml gives it
  std::filesystem::path path;
  std::filesystem::path db_path;  // path, or its decompressed copy
  std::unique_ptr<detail::Database> db;
  std::map<std::int64_t, std::size_t> topic_index;  // topics.id -> index into topics_
};

namespace
{

std::uintmax_t file_size_or_zero(const std::filesystem::path & file)
{
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

// A compressed database or message may not grow past this: what it holds is read into memory
// or onto the disk, and the bytes come from a file that may be damaged or hostile.
constexpr std::uint64_t kMaxDecompressedFile = 64ULL << 30;
constexpr std::size_t kMaxDecompressedMessage = 256U << 20;

std::filesystem::path make_scratch_directory()
{
  std::string pattern =
      (std::filesystem::temp_directory_path() / "quorvel-bag-decompressed-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot make a temporary directory");
  }
  return pattern;
}

}  // namespace

// ---- cursor ----

struct MessageCursor::Impl
{
  struct Source
  {
    std::size_t file = 0;
    std::unique_ptr<detail::Statement> statement;
    bool has_row = false;
  };

  const BagReader * reader = nullptr;
  std::vector<Source> sources;

  void advance(Source & source)
  {
    try {
      source.has_row = source.statement->step();
    } catch (const detail::SqliteError & error) {
      const BagReader::File & file = *reader->files_[source.file];
      throw BagError(
          "bag '" + reader->label_ + "': " + file.name + " is damaged: " + error.what() +
          " (reading its messages)");
    }
  }
};

MessageCursor::MessageCursor(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MessageCursor::MessageCursor(MessageCursor &&) noexcept = default;
MessageCursor & MessageCursor::operator=(MessageCursor &&) noexcept = default;
MessageCursor::~MessageCursor() = default;

bool MessageCursor::next(BagMessage & message)
{
  // The files are merged by receive time; within a file the query already orders them.
  Impl::Source * best = nullptr;
  for (Impl::Source & source : impl_->sources) {
    if (!source.has_row) {
      continue;
    }
    if (best == nullptr || source.statement->column_int64(2) < best->statement->column_int64(2)) {
      best = &source;
    }
  }
  if (best == nullptr) {
    return false;
  }
  const BagReader & reader = *impl_->reader;
  const BagReader::File & file = *reader.files_[best->file];
  const detail::Statement & row = *best->statement;
  const std::int64_t id = row.column_int64(0);
  const std::int64_t topic_id = row.column_int64(1);
  const auto topic = file.topic_index.find(topic_id);
  if (topic == file.topic_index.end()) {
    throw BagError(
        "bag '" + reader.label_ + "': message " + std::to_string(id) + " of " + file.name +
        " has topic id " + std::to_string(topic_id) + ", which no topic of the bag has");
  }
  message.file_index = best->file;
  message.id = id;
  message.topic = &reader.topics_[topic->second];
  message.timestamp_ns = row.column_int64(2);
  const std::size_t size = row.column_bytes(3);
  const auto * bytes = static_cast<const std::uint8_t *>(row.column_blob(3));
  if (reader.message_compressed_) {
    try {
      message.data = detail::decompress_bytes(bytes, bytes != nullptr ? size : 0,
                                              kMaxDecompressedMessage);
    } catch (const detail::ZstdError & error) {
      throw BagError(
          "bag '" + reader.label_ + "': message " + std::to_string(id) + " of " + file.name +
          " does not decompress: " + error.what());
    }
  } else {
    message.data.assign(bytes, bytes + (bytes != nullptr ? size : 0));
  }
  impl_->advance(*best);
  return true;
}

// ---- reader ----

BagReader::BagReader(const std::filesystem::path & bag_dir)
    : directory_(bag_dir), label_(bag_label(bag_dir)), metadata_(read_metadata(bag_dir))
{
  const auto malformed = [this](const std::string & what) {
    return BagError(
        "bag '" + label_ + "': " + kMetadataFileName + " is malformed: " + what +
        " (rebuild it with 'quorvel bag reindex " + label_ + "')");
  };
  std::map<std::string, std::size_t> by_name;
  for (const TopicWithCount & entry : metadata_.topics_with_message_count) {
    const TopicMetadata & t = entry.topic_metadata;
    BagTopic topic;
    topic.name = t.name;
    topic.type = t.type;
    topic.serialization_format = t.serialization_format;
    topic.offered_qos_profiles = t.offered_qos_profiles;
    topic.message_count = entry.message_count;
    try {
      topic.offered_qos = offered_qos_from_yaml(t.offered_qos_profiles);
    } catch (const BagError & error) {
      throw malformed("topic " + t.name + ": " + error.what());
    }
    if (!by_name.emplace(t.name, topics_.size()).second) {
      throw malformed("topic " + t.name + " is listed twice");
    }
    topics_.push_back(std::move(topic));
  }

  message_compressed_ = metadata_.compression_mode == "MESSAGE";
  const bool file_compressed = metadata_.compression_mode == "FILE";
  // Whatever happens below, a decompressed copy does not outlive the reader.
  struct ScratchGuard
  {
    std::filesystem::path * path;
    ~ScratchGuard()
    {
      if (path != nullptr && !path->empty()) {
        std::error_code ec;
        std::filesystem::remove_all(*path, ec);
      }
    }
  } guard{&scratch_};
  for (const std::string & relative : metadata_.relative_file_paths) {
    auto file = std::make_unique<File>();
    file->name = relative;
    file->path = directory_ / relative;
    file->db_path = file->path;
    const auto bad_file = [&](const std::string & what) {
      return BagError("bag '" + label_ + "': " + what);
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file->path, ec)) {
      throw bad_file(relative + ", named in " + kMetadataFileName + ", is missing");
    }
    if (file_compressed) {
      try {
        if (scratch_.empty()) {
          scratch_ = make_scratch_directory();
        }
        file->db_path = scratch_ / (std::to_string(files_.size()) + ".db3");
        detail::decompress_file(file->path, file->db_path, kMaxDecompressedFile);
      } catch (const detail::ZstdError & error) {
        throw bad_file(relative + " does not decompress: " + error.what());
      } catch (const std::system_error & error) {
        throw bad_file(relative + ": " + error.what());
      }
    }
    try {
      detail::check_database_file(file->db_path);
    } catch (const detail::SqliteError & error) {
      throw bad_file(error.what());
    } catch (const std::runtime_error & error) {
      throw bad_file(error.what());
    }
    try {
      file->db =
          std::make_unique<detail::Database>(file->db_path, detail::Database::Mode::kReadOnly);
      for (const char * table : {"topics", "messages"}) {
        if (!file->db->has_table(table)) {
          throw bad_file(
              relative + " is not a bag database: it has no '" + table + "' table" +
              " (or its -wal file, which holds its content, is missing)");
        }
      }
      const bool has_qos = file->db->has_column("topics", "offered_qos_profiles");
      detail::Statement query(
          *file->db,
          std::string("SELECT id, name, type, serialization_format") +
              (has_qos ? ", offered_qos_profiles" : "") + " FROM topics ORDER BY id");
      while (query.step()) {
        const std::int64_t id = query.column_int64(0);
        const std::string name = query.column_text(1);
        const std::string type = query.column_text(2);
        const auto known = by_name.find(name);
        if (known == by_name.end()) {
          throw bad_file(
              relative + " has topic " + name + ", which " + kMetadataFileName +
              " does not list: the metadata is stale (rebuild it with 'quorvel bag reindex " +
              label_ + "')");
        }
        if (topics_[known->second].type != type) {
          throw bad_file(
              relative + " has topic " + name + " of type " + type + ", but " + kMetadataFileName +
              " says " + topics_[known->second].type);
        }
        file->topic_index[id] = known->second;
      }
    } catch (const detail::SqliteError & error) {
      throw bad_file(relative + ": " + error.what());
    }
    files_.push_back(std::move(file));
  }
  guard.path = nullptr;  // kept until the reader goes
}

BagReader::~BagReader()
{
  files_.clear();  // the databases close before their copies go
  if (!scratch_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }
}

const BagTopic * BagReader::find_topic(const std::string & name) const
{
  for (const BagTopic & topic : topics_) {
    if (topic.name == name) {
      return &topic;
    }
  }
  return nullptr;
}

std::uintmax_t BagReader::size_bytes() const
{
  std::uintmax_t size = 0;
  for (const auto & file : files_) {
    size += file_size_or_zero(file->path) + file_size_or_zero(file->path.string() + "-wal");
  }
  return size;
}

MessageCursor BagReader::messages(const MessageFilter & filter) const
{
  std::set<std::size_t> wanted;
  for (const std::string & name : filter.topics) {
    const BagTopic * topic = find_topic(name);
    if (topic == nullptr) {
      throw BagError("bag '" + label_ + "' has no topic " + name);
    }
    wanted.insert(static_cast<std::size_t>(topic - topics_.data()));
  }
  auto impl = std::make_unique<MessageCursor::Impl>();
  impl->reader = this;
  for (std::size_t f = 0; f < files_.size(); ++f) {
    const File & file = *files_[f];
    std::string sql = "SELECT id, topic_id, timestamp, data FROM messages WHERE 1";
    if (filter.from_ns) {
      sql += " AND timestamp >= ?1";
    }
    if (filter.until_ns) {
      sql += " AND timestamp < ?2";
    }
    if (!filter.topics.empty()) {
      std::string ids;
      for (const auto & entry : file.topic_index) {
        if (wanted.count(entry.second) != 0) {
          ids += (ids.empty() ? "" : ",") + std::to_string(entry.first);
        }
      }
      sql += ids.empty() ? " AND 0" : " AND topic_id IN (" + ids + ")";
    }
    // The index on timestamp orders ties by row id, so this needs no sort.
    sql += " ORDER BY timestamp, id";
    MessageCursor::Impl::Source source;
    source.file = f;
    try {
      source.statement = std::make_unique<detail::Statement>(*file.db, sql);
      if (filter.from_ns) {
        source.statement->bind(1, *filter.from_ns);
      }
      if (filter.until_ns) {
        source.statement->bind(2, *filter.until_ns);
      }
    } catch (const detail::SqliteError & error) {
      throw BagError("bag '" + label_ + "': " + file.name + ": " + error.what());
    }
    impl->sources.push_back(std::move(source));
    impl->advance(impl->sources.back());
  }
  return MessageCursor(std::move(impl));
}

void BagReader::check_counts() const
{
  std::vector<std::uint64_t> counted(topics_.size(), 0);
  for (const auto & file : files_) {
    try {
      detail::Statement query(
          *file->db, "SELECT topic_id, COUNT(*), MIN(id) FROM messages GROUP BY topic_id");
      while (query.step()) {
        const std::int64_t topic_id = query.column_int64(0);
        const auto topic = file->topic_index.find(topic_id);
        if (topic == file->topic_index.end()) {
          throw BagError(
              "bag '" + label_ + "': message " + std::to_string(query.column_int64(2)) + " of " +
              file->name + " has topic id " + std::to_string(topic_id) +
              ", which no topic of the bag has");
        }
        counted[topic->second] += static_cast<std::uint64_t>(query.column_int64(1));
      }
    } catch (const detail::SqliteError & error) {
      throw BagError(
          "bag '" + label_ + "': " + file->name + " is damaged: " + error.what() +
          " (counting its messages)");
    }
  }
  for (std::size_t i = 0; i < topics_.size(); ++i) {
    if (counted[i] != topics_[i].message_count) {
      throw BagError(
          "bag '" + label_ + "': " + kMetadataFileName + " says " +
          std::to_string(topics_[i].message_count) + " messages on " + topics_[i].name +
          " but the database holds " + std::to_string(counted[i]) +
          ": the metadata is stale (rebuild it with 'quorvel bag reindex " + label_ + "')");
    }
  }
}

}  // namespace quorvel_bag
