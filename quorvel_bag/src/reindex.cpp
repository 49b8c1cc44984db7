#include "quorvel_bag/reindex.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "database.hpp"
#include "quorvel_bag/bag_error.hpp"

namespace quorvel_bag
{

namespace
{

/// The split number of "<name>_<n>.db3", or none.
std::optional<unsigned long> split_number(const std::string & file_name)
{
  const std::string stem = file_name.substr(0, file_name.size() - 4);
  const std::size_t underscore = stem.rfind('_');
  if (underscore == std::string::npos || underscore + 1 == stem.size()) {
    return std::nullopt;
  }
  const std::string digits = stem.substr(underscore + 1);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      digits.size() > 9) {
    return std::nullopt;
  }
  return std::stoul(digits);
}

std::vector<std::string> database_files(const std::filesystem::path & bag_dir)
{
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto & entry : std::filesystem::directory_iterator(bag_dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".db3") == 0 &&
        entry.is_regular_file(ec)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string & a, const std::string & b) {
    const auto na = split_number(a);
    const auto nb = split_number(b);
    if (na && nb && *na != *nb) {
      return *na < *nb;
    }
    return a < b;
  });
  return names;
}

}  // namespace

BagMetadata reindex(const std::filesystem::path & bag_dir)
{
  const std::string label = bag_label(bag_dir);
  std::error_code ec;
  if (!std::filesystem::is_directory(bag_dir, ec)) {
    throw BagError(
        "bag '" + label +
        "': " + (std::filesystem::exists(bag_dir, ec) ? "not a directory" : "no such directory"));
  }
  const std::vector<std::string> names = database_files(bag_dir);
  if (names.empty()) {
    throw BagError("bag '" + label + "' has no database file (*.db3) to rebuild metadata from");
  }

  BagMetadata metadata;
  std::vector<std::string> topic_order;
  std::map<std::string, TopicWithCount> topics;
  std::int64_t first = kNoStartingTime;
  std::int64_t last = 0;
  for (const std::string & name : names) {
    const std::filesystem::path path = bag_dir / name;
    const auto bad = [&](const std::string & what) {
      return BagError("bag '" + label + "': " + what);
    };
    try {
      detail::check_database_file(path);
    } catch (const std::runtime_error & error) {
      throw bad(error.what());
    }
    FileInformation file;
    file.path = name;
    try {
      detail::Database db(path, detail::Database::Mode::kReadOnly);
      for (const char * table : {"topics", "messages"}) {
        if (!db.has_table(table)) {
          throw bad(
              name + " is not a bag database: it has no '" + table + "' table" +
              " (or its -wal file, which holds its content, is missing)");
        }
      }
      const bool has_qos = db.has_column("topics", "offered_qos_profiles");
      std::map<std::int64_t, std::string> names_by_id;
      detail::Statement topic_query(
          db,
          std::string("SELECT id, name, type, serialization_format") +
              (has_qos ? ", offered_qos_profiles" : "") + " FROM topics ORDER BY id");
      while (topic_query.step()) {
        TopicMetadata topic;
        topic.name = topic_query.column_text(1);
        topic.type = topic_query.column_text(2);
        topic.serialization_format = topic_query.column_text(3);
        topic.offered_qos_profiles = has_qos ? topic_query.column_text(4) : std::string();
        names_by_id[topic_query.column_int64(0)] = topic.name;
        const auto known = topics.find(topic.name);
        if (known == topics.end()) {
          topic_order.push_back(topic.name);
          topics[topic.name] = TopicWithCount{topic, 0};
        } else if (known->second.topic_metadata.type != topic.type) {
          throw bad(
              name + " has topic " + topic.name + " of type " + topic.type + ", another file " +
              "has it as " + known->second.topic_metadata.type);
        }
      }
      detail::Statement count_query(
          db,
          "SELECT topic_id, COUNT(*), MIN(timestamp), MAX(timestamp), MIN(id) "
          "FROM messages GROUP BY topic_id");
      std::int64_t file_first = kNoStartingTime;
      std::int64_t file_last = 0;
      while (count_query.step()) {
        const auto topic = names_by_id.find(count_query.column_int64(0));
        if (topic == names_by_id.end()) {
          throw bad(
              "message " + std::to_string(count_query.column_int64(4)) + " of " + name +
              " has topic id " + std::to_string(count_query.column_int64(0)) +
              ", which no topic of the bag has");
        }
        const auto count = static_cast<std::uint64_t>(count_query.column_int64(1));
        topics[topic->second].message_count += count;
        file.message_count += count;
        file_first = std::min(file_first, count_query.column_int64(2));
        file_last = std::max(file_last, count_query.column_int64(3));
      }
      if (file.message_count > 0) {
        file.starting_time_ns = file_first;
        file.duration_ns = file_last - file_first;
        first = std::min(first, file_first);
        last = std::max(last, file_last);
      }
    } catch (const detail::SqliteError & error) {
      throw bad(name + " cannot be read: " + error.what());
    }
    metadata.message_count += file.message_count;
    metadata.relative_file_paths.push_back(name);
    metadata.files.push_back(std::move(file));
  }
  for (const std::string & name : topic_order) {
    metadata.topics_with_message_count.push_back(topics[name]);
  }
  if (metadata.message_count > 0) {
    metadata.starting_time_ns = first;
    metadata.duration_ns = last - first;
  }
  write_metadata(bag_dir, metadata);
  return metadata;
}

}  // namespace quorvel_bag
