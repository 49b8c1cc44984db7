// Bags for the tests: temporary directories, serialized messages, and bags laid out by hand the
// way ROS 2 Humble's own writer lays them out (no code of this library involved).
#ifndef BAG_FIXTURES_HPP_
#define BAG_FIXTURES_HPP_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>

namespace bag_fixtures
{

/// A fresh directory under TMPDIR, removed with everything in it on destruction.
class TempDir
{
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir & operator=(const TempDir &) = delete;
  const std::filesystem::path & path() const { return path_; }
  std::filesystem::path operator/(const std::string & name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

template <typename MessageT>
std::vector<std::uint8_t> serialize(const MessageT & message)
{
  rclcpp::SerializedMessage serialized;
  rclcpp::Serialization<MessageT>().serialize_message(&message, &serialized);
  const auto & raw = serialized.get_rcl_serialized_message();
  return std::vector<std::uint8_t>(raw.buffer, raw.buffer + raw.buffer_length);
}

/// One message of a hand-made bag.
struct RawMessage
{
  std::int64_t topic_id;
  std::int64_t timestamp_ns;
  std::vector<std::uint8_t> data;
};

/// One topic of a hand-made bag (ids from 1 in this order).
struct RawTopic
{
  std::string name;
  std::string type;
  std::string offered_qos_profiles;
};

/// How a hand-made bag's database is left.
enum class Journal
{
  kMemory,     ///< Humble's default writer: journal in memory, closed cleanly
  kWalClosed,  ///< the resilient preset, closed cleanly
  kWalKilled,  ///< the resilient preset, writer killed after its last commit (WAL not merged)
};

/// The offered_qos_profiles text a Humble recorder writes for one reliable, volatile publisher
/// whose deadline, lifespan and lease are infinite.
std::string humble_qos_text(int durability = 2);

/// Writes `<dir>/<dir name>_0.db3` with Humble's schema-3 tables and the messages, and, unless
/// `with_metadata` is false, metadata.yaml as Humble's writer words it. `dir` must not exist.
void make_humble_bag(
    const std::filesystem::path & dir,
    const std::vector<RawTopic> & topics,
    const std::vector<RawMessage> & messages,
    Journal journal,
    bool with_metadata = true);

/// Runs one SQL statement (or several) on a database file outside the library.
void sql(const std::filesystem::path & database, const std::string & statements);

/// One integer from a query.
std::int64_t sql_int(const std::filesystem::path & database, const std::string & query);

std::string read_file(const std::filesystem::path & file);
void write_file(const std::filesystem::path & file, const std::string & text);

}  // namespace bag_fixtures

#endif  // BAG_FIXTURES_HPP_
