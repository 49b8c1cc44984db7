// metadata.yaml: the summary of a bag that ROS 2 Humble's bag tools read first (format version
// 5, "rosbag2_bagfile_information"), its reading, writing and the checks made on it.
#ifndef QUORVEL_BAG__METADATA_HPP_
#define QUORVEL_BAG__METADATA_HPP_

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace quorvel_bag
{

inline constexpr int kMetadataVersion = 5;
inline constexpr char kMetadataFileName[] = "metadata.yaml";
inline constexpr char kStorageIdentifier[] = "sqlite3";
inline constexpr char kSerializationFormat[] = "cdr";
/// starting_time of a bag without messages, as Humble writes it.
inline constexpr std::int64_t kNoStartingTime = std::numeric_limits<std::int64_t>::max();

/// One topic as the bag describes it. `offered_qos_profiles` is the YAML text (qos_profile.hpp).
struct TopicMetadata
{
  std::string name;  // "/robot/joint_angle"
  std::string type;  // "sensor_msgs/msg/JointState"
  std::string serialization_format = kSerializationFormat;
  std::string offered_qos_profiles;
};

struct TopicWithCount
{
  TopicMetadata topic_metadata;
  std::uint64_t message_count = 0;
};

/// One database file of the bag (version 5: `files`).
struct FileInformation
{
  std::string path;  // relative to the bag directory
  std::int64_t starting_time_ns = kNoStartingTime;
  std::int64_t duration_ns = 0;
  std::uint64_t message_count = 0;
};

/// Times are nanoseconds since the Unix epoch (starting_time) or spans (duration): the first
/// message's receive time, and the last one's minus the first one's.
struct BagMetadata
{
  int version = kMetadataVersion;
  std::string storage_identifier = kStorageIdentifier;
  std::int64_t duration_ns = 0;
  std::int64_t starting_time_ns = kNoStartingTime;
  std::uint64_t message_count = 0;
  std::vector<TopicWithCount> topics_with_message_count;
  std::string compression_format;
  std::string compression_mode;
  std::vector<std::string> relative_file_paths;
  std::vector<FileInformation> files;
};

/// The text of metadata.yaml as Humble's writer lays it out.
std::string metadata_to_yaml(const BagMetadata & metadata);

/// Parses metadata.yaml of versions 1 to 5 (fields a version lacks keep their defaults). Throws
/// BagError for text that is not YAML, a missing or mistyped field, another version, another
/// storage than sqlite3, a compressed bag, or no database file. The message says what is wrong,
/// without naming the file.
BagMetadata metadata_from_yaml(const std::string & text);

/// Reads `<bag_dir>/metadata.yaml`. Throws BagError naming the bag: missing (with the hint to
/// rebuild it with `quorvel bag reindex`), unreadable or malformed.
BagMetadata read_metadata(const std::filesystem::path & bag_dir);

/// Writes `<bag_dir>/metadata.yaml` whole or not at all (a temporary file renamed over it).
/// Throws BagError naming the bag; a full disk is a BagError with disk_full().
void write_metadata(const std::filesystem::path & bag_dir, const BagMetadata & metadata);

/// The bag's name as messages show it: the directory as given.
std::string bag_label(const std::filesystem::path & bag_dir);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__METADATA_HPP_
