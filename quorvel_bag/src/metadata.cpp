#include "quorvel_bag/metadata.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <yaml-cpp/yaml.h>

#include "quorvel_bag/bag_error.hpp"

namespace quorvel_bag
{

namespace
{

// Well formed, but of a kind this reader does not read: no rebuild helps.
class NotSupported : public BagError
{
public:
  using BagError::BagError;
};

}  // namespace

namespace
{

constexpr char kRootKey[] = "rosbag2_bagfile_information";

// ---- writing ----

void emit_nanoseconds(YAML::Emitter & out, const char * key, const char * unit, std::int64_t ns)
{
  out << YAML::Key << key << YAML::Value << YAML::BeginMap;
  out << YAML::Key << unit << YAML::Value << ns;
  out << YAML::EndMap;
}

// ---- reading ----

/// A field of `parent` at `path` ("rosbag2_bagfile_information.duration.nanoseconds").
YAML::Node required(const YAML::Node & parent, const std::string & key, const std::string & path)
{
  if (!parent.IsMap()) {
    throw BagError("'" + path + "' is not a map");
  }
  const YAML::Node node = parent[key];
  if (!node) {
    throw BagError("'" + path + "." + key + "' is missing");
  }
  return node;
}

template <typename T>
T scalar(const YAML::Node & node, const std::string & path, const char * what)
{
  if (!node.IsScalar()) {
    throw BagError("'" + path + "' is not " + what);
  }
  try {
    return node.as<T>();
  } catch (const YAML::Exception &) {
    throw BagError("'" + path + "' is not " + what + " ('" + node.Scalar() + "')");
  }
}

template <typename T>
T required_scalar(
    const YAML::Node & parent, const std::string & key, const std::string & path, const char * what)
{
  return scalar<T>(required(parent, key, path), path + "." + key, what);
}

std::int64_t required_time(
    const YAML::Node & parent, const std::string & key, const char * unit, const std::string & path)
{
  const YAML::Node node = required(parent, key, path);
  return required_scalar<std::int64_t>(node, unit, path + "." + key, "an integer");
}

YAML::Node required_sequence(
    const YAML::Node & parent, const std::string & key, const std::string & path)
{
  const YAML::Node node = required(parent, key, path);
  if (!node.IsSequence()) {
    throw BagError("'" + path + "." + key + "' is not a list");
  }
  return node;
}

/// A path inside the bag directory: relative, without "..", not empty.
void check_inside_bag(const std::string & file, const std::string & path)
{
  const std::filesystem::path p(file);
  bool escapes = file.empty() || p.is_absolute() || p.has_root_path();
  for (const auto & part : p) {
    escapes = escapes || part == "..";
  }
  if (escapes) {
    throw BagError("'" + path + "' ('" + file + "') is not a file inside the bag directory");
  }
}

}  // namespace

std::string bag_label(const std::filesystem::path & bag_dir)
{
  std::string label = bag_dir.string();
  while (label.size() > 1 && label.back() == '/') {
    label.pop_back();
  }
  return label;
}

std::string metadata_to_yaml(const BagMetadata & metadata)
{
  YAML::Emitter out;
  out << YAML::BeginMap << YAML::Key << kRootKey << YAML::Value << YAML::BeginMap;
  out << YAML::Key << "version" << YAML::Value << metadata.version;
  out << YAML::Key << "storage_identifier" << YAML::Value << metadata.storage_identifier;
  emit_nanoseconds(out, "duration", "nanoseconds", metadata.duration_ns);
  emit_nanoseconds(out, "starting_time", "nanoseconds_since_epoch", metadata.starting_time_ns);
  out << YAML::Key << "message_count" << YAML::Value << metadata.message_count;
  out << YAML::Key << "topics_with_message_count" << YAML::Value << YAML::BeginSeq;
  for (const TopicWithCount & topic : metadata.topics_with_message_count) {
    const TopicMetadata & t = topic.topic_metadata;
    out << YAML::BeginMap;
    out << YAML::Key << "topic_metadata" << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "name" << YAML::Value << t.name;
    out << YAML::Key << "type" << YAML::Value << t.type;
    out << YAML::Key << "serialization_format" << YAML::Value << t.serialization_format;
    out << YAML::Key << "offered_qos_profiles" << YAML::Value << t.offered_qos_profiles;
    out << YAML::EndMap;
    out << YAML::Key << "message_count" << YAML::Value << topic.message_count;
    out << YAML::EndMap;
  }
  out << YAML::EndSeq;
  out << YAML::Key << "compression_format" << YAML::Value << metadata.compression_format;
  out << YAML::Key << "compression_mode" << YAML::Value << metadata.compression_mode;
  out << YAML::Key << "relative_file_paths" << YAML::Value << YAML::BeginSeq;
  for (const std::string & path : metadata.relative_file_paths) {
    out << path;
  }
  out << YAML::EndSeq;
  out << YAML::Key << "files" << YAML::Value << YAML::BeginSeq;
  for (const FileInformation & file : metadata.files) {
    out << YAML::BeginMap;
    out << YAML::Key << "path" << YAML::Value << file.path;
    emit_nanoseconds(out, "starting_time", "nanoseconds_since_epoch", file.starting_time_ns);
    emit_nanoseconds(out, "duration", "nanoseconds", file.duration_ns);
    out << YAML::Key << "message_count" << YAML::Value << file.message_count;
    out << YAML::EndMap;
  }
  out << YAML::EndSeq;
  out << YAML::EndMap << YAML::EndMap;
  return std::string(out.c_str()) + "\n";
}

BagMetadata metadata_from_yaml(const std::string & text)
{
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception & error) {
    throw BagError(
        "not YAML: " + error.msg + " (line " + std::to_string(error.mark.line + 1) + ", column " +
        std::to_string(error.mark.column + 1) + ")");
  }
  if (!root.IsMap() || !root[kRootKey]) {
    throw BagError(std::string("no '") + kRootKey + "' section");
  }
  const YAML::Node info = root[kRootKey];
  const std::string at = kRootKey;
  if (!info.IsMap()) {
    throw BagError("'" + at + "' is not a map");
  }

  BagMetadata metadata;
  metadata.version = required_scalar<int>(info, "version", at, "an integer");
  if (metadata.version < 1 || metadata.version > kMetadataVersion) {
    throw BagError(
        "version " + std::to_string(metadata.version) + " is not one of ROS 2 Humble's (1 to " +
        std::to_string(kMetadataVersion) + ")");
  }
  metadata.storage_identifier =
      required_scalar<std::string>(info, "storage_identifier", at, "a string");
  // `ros2 bag reindex` (Humble) leaves the storage empty: the files' .db3 names say sqlite3.
  const bool reindexed_sqlite =
      metadata.storage_identifier.empty() && info["relative_file_paths"].IsSequence() &&
      std::all_of(
          info["relative_file_paths"].begin(),
          info["relative_file_paths"].end(),
          [](const YAML::Node & path) {
            const std::string name = path.IsScalar() ? path.as<std::string>() : "";
            return name.size() > 4 && name.compare(name.size() - 4, 4, ".db3") == 0;
          });
  if (metadata.storage_identifier != kStorageIdentifier && !reindexed_sqlite) {
    throw NotSupported(
        "its storage '" + metadata.storage_identifier + "' is not supported (only sqlite3)");
  }
  metadata.duration_ns = required_time(info, "duration", "nanoseconds", at);
  metadata.starting_time_ns = required_time(info, "starting_time", "nanoseconds_since_epoch", at);
  metadata.message_count = required_scalar<std::uint64_t>(info, "message_count", at, "a count");
  if (metadata.duration_ns < 0) {
    throw BagError("'" + at + ".duration.nanoseconds' is negative");
  }

  const YAML::Node topics = required_sequence(info, "topics_with_message_count", at);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < topics.size(); ++i) {
    const std::string item = at + ".topics_with_message_count[" + std::to_string(i) + "]";
    const YAML::Node entry = topics[i];
    const YAML::Node t = required(entry, "topic_metadata", item);
    const std::string tat = item + ".topic_metadata";
    TopicWithCount topic;
    topic.topic_metadata.name = required_scalar<std::string>(t, "name", tat, "a string");
    topic.topic_metadata.type = required_scalar<std::string>(t, "type", tat, "a string");
    topic.topic_metadata.serialization_format =
        required_scalar<std::string>(t, "serialization_format", tat, "a string");
    if (metadata.version >= 4) {
      topic.topic_metadata.offered_qos_profiles =
          required_scalar<std::string>(t, "offered_qos_profiles", tat, "a string");
    }
    topic.message_count = required_scalar<std::uint64_t>(entry, "message_count", item, "a count");
    if (topic.topic_metadata.name.empty() || topic.topic_metadata.type.empty()) {
      throw BagError("'" + tat + "' has an empty name or type");
    }
    sum += topic.message_count;
    metadata.topics_with_message_count.push_back(std::move(topic));
  }
  if (sum != metadata.message_count) {
    throw BagError(
        "message_count is " + std::to_string(metadata.message_count) +
        " but the topics' counts add "
        "up to " +
        std::to_string(sum));
  }

  if (metadata.version >= 3) {
    metadata.compression_format =
        required_scalar<std::string>(info, "compression_format", at, "a string");
    metadata.compression_mode =
        required_scalar<std::string>(info, "compression_mode", at, "a string");
    // ros2 bag record --compression-format zstd: FILE or MESSAGE mode (rosbag2 takes the mode
    // in any case); other formats cannot be read here.
    std::string mode = metadata.compression_mode;
    std::transform(mode.begin(), mode.end(), mode.begin(), [](unsigned char c) {
      return static_cast<char>(std::toupper(c));
    });
    if (!metadata.compression_format.empty() || !metadata.compression_mode.empty()) {
      if (metadata.compression_format != "zstd" || (mode != "FILE" && mode != "MESSAGE")) {
        throw NotSupported(
            "it is compressed (" + metadata.compression_format + ", " +
            metadata.compression_mode +
            "): only zstd in FILE or MESSAGE mode can be read; make an uncompressed copy with "
            "'ros2 bag convert'");
      }
      metadata.compression_mode = mode;
    }
  }

  const YAML::Node paths = required_sequence(info, "relative_file_paths", at);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string item = at + ".relative_file_paths[" + std::to_string(i) + "]";
    const std::string path = scalar<std::string>(paths[i], item, "a string");
    check_inside_bag(path, item);
    metadata.relative_file_paths.push_back(path);
  }
  if (metadata.relative_file_paths.empty()) {
    throw BagError("'" + at + ".relative_file_paths' names no database file");
  }

  if (metadata.version >= 5) {
    const YAML::Node files = required_sequence(info, "files", at);
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string item = at + ".files[" + std::to_string(i) + "]";
      FileInformation file;
      file.path = required_scalar<std::string>(files[i], "path", item, "a string");
      check_inside_bag(file.path, item + ".path");
      file.starting_time_ns =
          required_time(files[i], "starting_time", "nanoseconds_since_epoch", item);
      file.duration_ns = required_time(files[i], "duration", "nanoseconds", item);
      file.message_count =
          required_scalar<std::uint64_t>(files[i], "message_count", item, "a count");
      metadata.files.push_back(std::move(file));
    }
  }
  return metadata;
}

BagMetadata read_metadata(const std::filesystem::path & bag_dir)
{
  const std::string label = bag_label(bag_dir);
  std::error_code ec;
  if (!std::filesystem::is_directory(bag_dir, ec)) {
    throw BagError(
        "bag '" + label +
        "': " + (std::filesystem::exists(bag_dir, ec) ? "not a directory" : "no such directory"));
  }
  const std::filesystem::path file = bag_dir / kMetadataFileName;
  if (!std::filesystem::exists(file, ec)) {
    throw BagError(
        "bag '" + label + "' has no " + kMetadataFileName +
        " (a recording that did not end "
        "cleanly?): rebuild it from the database with 'quorvel bag reindex " +
        label + "'");
  }
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in || in.bad()) {
    throw BagError("bag '" + label + "': cannot read " + kMetadataFileName);
  }
  try {
    return metadata_from_yaml(text.str());
  } catch (const NotSupported & error) {
    throw BagError("bag '" + label + "' cannot be read here: " + error.what());
  } catch (const BagError & error) {
    throw BagError(
        "bag '" + label + "': " + kMetadataFileName + " is malformed: " + error.what() +
        " (rebuild it with 'quorvel bag reindex " + label + "')");
  }
}

void write_metadata(const std::filesystem::path & bag_dir, const BagMetadata & metadata)
{
  const std::string label = bag_label(bag_dir);
  const std::string text = metadata_to_yaml(metadata);
  const std::filesystem::path final_path = bag_dir / kMetadataFileName;
  const std::filesystem::path temp_path = bag_dir / (std::string(kMetadataFileName) + ".tmp");
  const auto failed = [&](const char * what, int err) {
    ::unlink(temp_path.c_str());
    throw BagError(
        "bag '" + label + "': cannot " + what + " " + kMetadataFileName + ": " + std::strerror(err),
        err == ENOSPC || err == EDQUOT);
  };
  const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    failed("create", errno);
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int err = errno;
      ::close(fd);
      failed("write", err);
    }
    done += static_cast<std::size_t>(n);
  }
  // On disk before it replaces anything: a crash leaves the old file or the new one.
  if (::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    failed("write", err);
  }
  if (::close(fd) != 0) {
    failed("write", errno);
  }
  if (std::rename(temp_path.c_str(), final_path.c_str()) != 0) {
    failed("replace", errno);
  }
}

}  // namespace quorvel_bag
