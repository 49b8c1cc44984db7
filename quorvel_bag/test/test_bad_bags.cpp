// Every way a bag can be bad, each refused with a message naming the bag and the fault, and
// nothing from it handed out as valid.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/int32.hpp>

#include "bag_fixtures.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/reindex.hpp"
#include "quorvel_bag/writer.hpp"

using bag_fixtures::TempDir;
using quorvel_bag::BagError;
using quorvel_bag::BagMessage;
using quorvel_bag::BagReader;

namespace
{

constexpr std::int64_t kT0 = 1765152000000000000;

/// A good bag of 40 joint states and 40 voice codes, in `tmp/bag`.
std::filesystem::path good_bag(const TempDir & tmp)
{
  const auto dir = tmp / "bag";
  quorvel_bag::BagWriter writer(dir);
  const auto joints =
      writer.add_topic({"/robot/joint_angle", "sensor_msgs/msg/JointState", "cdr", ""});
  const auto voice = writer.add_topic({"/arm/voice_broadcast", "std_msgs/msg/Int32", "cdr", ""});
  sensor_msgs::msg::JointState state;
  state.name = {"joint1", "joint2", "joint3", "joint4", "joint5"};
  std_msgs::msg::Int32 code;
  for (int i = 0; i < 40; ++i) {
    state.position = {0.01 * i, 0.0, 1.0, 0.0, 0.0};
    code.data = i;
    const auto a = bag_fixtures::serialize(state);
    const auto b = bag_fixtures::serialize(code);
    writer.write(joints, kT0 + 2 * i, a.data(), a.size());
    writer.write(voice, kT0 + 2 * i + 1, b.data(), b.size());
  }
  writer.close();
  return dir;
}

/// Opens the bag and reads and decodes every message; returns the error it gave.
std::string read_error(const std::filesystem::path & dir)
{
  try {
    BagReader reader(dir);
    reader.check_counts();
    auto cursor = reader.messages();
    BagMessage message;
    while (cursor.next(message)) {
      quorvel_bag::check_decodes(message, reader.label());
    }
  } catch (const BagError & error) {
    return error.what();
  }
  return "";
}

void expect_error(const std::filesystem::path & dir, const std::vector<std::string> & parts)
{
  const std::string error = read_error(dir);
  ASSERT_FALSE(error.empty()) << "the bad bag was read without an error";
  EXPECT_NE(error.find("bag '" + quorvel_bag::bag_label(dir) + "'"), std::string::npos) << error;
  for (const std::string & part : parts) {
    EXPECT_NE(error.find(part), std::string::npos) << "'" << part << "' not in: " << error;
  }
}

void edit_metadata(
    const std::filesystem::path & dir, const std::string & from, const std::string & to)
{
  std::string text = bag_fixtures::read_file(dir / "metadata.yaml");
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not in " << text;
  text.replace(at, from.size(), to);
  bag_fixtures::write_file(dir / "metadata.yaml", text);
}

}  // namespace

TEST(BadBags, the_good_bag_reads_cleanly)
{
  TempDir tmp;
  EXPECT_EQ(read_error(good_bag(tmp)), "");
}

TEST(BadBags, metadata_missing_or_malformed)
{
  struct Case
  {
    std::string name;
    std::function<void(const std::filesystem::path &)> damage;
    std::vector<std::string> message;
  };
  const std::vector<Case> cases{
      {"missing",
       [](const auto & dir) { std::filesystem::remove(dir / "metadata.yaml"); },
       {"has no metadata.yaml", "quorvel bag reindex"}},
      {"not yaml",
       [](const auto & dir) { bag_fixtures::write_file(dir / "metadata.yaml", "a: [b\n"); },
       {"metadata.yaml is malformed", "not YAML"}},
      {"empty",
       [](const auto & dir) { bag_fixtures::write_file(dir / "metadata.yaml", ""); },
       {"metadata.yaml is malformed", "rosbag2_bagfile_information"}},
      {"field missing",
       [](const auto & dir) { edit_metadata(dir, "  message_count: 80\n", ""); },
       {"metadata.yaml is malformed", "message_count' is missing"}},
      {"count not a number",
       [](const auto & dir) { edit_metadata(dir, "message_count: 80", "message_count: many"); },
       {"metadata.yaml is malformed", "message_count' is not a count"}},
      {"negative count",
       [](const auto & dir) { edit_metadata(dir, "message_count: 80", "message_count: -80"); },
       {"metadata.yaml is malformed", "message_count' is not a count"}},
      {"newer version",
       [](const auto & dir) { edit_metadata(dir, "version: 5", "version: 9"); },
       {"version 9 is not one of ROS 2 Humble's"}},
      {"other storage",
       [](const auto & dir) {
         edit_metadata(dir, "storage_identifier: sqlite3", "storage_identifier: mcap");
       },
       {"storage 'mcap' is not supported"}},
      {"compressed",
       [](const auto & dir) {
         edit_metadata(dir, "compression_format: \"\"", "compression_format: zstd");
       },
       {"compressed"}},
      {"counts do not add up",
       [](const auto & dir) { edit_metadata(dir, "message_count: 40", "message_count: 41"); },
       {"add up to 81"}},
      {"file outside the bag",
       [](const auto & dir) { edit_metadata(dir, "  - bag_0.db3", "  - ../../etc/passwd"); },
       {"not a file inside the bag directory"}},
      {"database missing",
       [](const auto & dir) { std::filesystem::rename(dir / "bag_0.db3", dir / "moved.db3"); },
       {"bag_0.db3, named in metadata.yaml, is missing"}},
      {"qos text broken",
       [](const auto & dir) {
         edit_metadata(dir, "offered_qos_profiles: \"\"", "offered_qos_profiles: \"- history: [\"");
       },
       {"topic /robot/joint_angle", "offered_qos_profiles"}},
      {"stale topic list",
       [](const auto & dir) {
         bag_fixtures::sql(
             dir / "bag_0.db3",
             "INSERT INTO topics (name, type, serialization_format, "
             "offered_qos_profiles) VALUES ('/late', 'std_msgs/msg/Bool', 'cdr', '')");
       },
       {"has topic /late, which metadata.yaml does not list", "reindex"}},
      {"stale counts",
       [](const auto & dir) {
         bag_fixtures::sql(dir / "bag_0.db3", "DELETE FROM messages WHERE id > 70");
       },
       {"says 40 messages on", "holds 35", "reindex"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const auto dir = good_bag(tmp);
    c.damage(dir);
    expect_error(dir, c.message);
  }
}

TEST(BadBags, databases_that_are_not_one_or_are_cut_short_or_damaged)
{
  struct Case
  {
    std::string name;
    std::function<void(const std::filesystem::path &)> damage;
    std::vector<std::string> message;
  };
  const auto resize = [](const std::filesystem::path & file, double fraction) {
    std::filesystem::resize_file(
        file, static_cast<std::uintmax_t>(std::filesystem::file_size(file) * fraction));
  };
  const std::vector<Case> cases{
      {"text file",
       [](const auto & dir) { bag_fixtures::write_file(dir / "bag_0.db3", "rosbag2 data\n"); },
       {"bag_0.db3 is not an SQLite database"}},
      {"empty file",
       [](const auto & dir) { bag_fixtures::write_file(dir / "bag_0.db3", ""); },
       {"bag_0.db3 is not an SQLite database"}},
      {"whole pages cut",
       [&](const auto & dir) {
         const auto file = dir / "bag_0.db3";
         std::filesystem::resize_file(file, 4096 * (std::filesystem::file_size(file) / 4096 / 2));
       },
       {"bag_0.db3 is truncated", "pages"}},
      {"cut inside a page",
       [&](const auto & dir) { resize(dir / "bag_0.db3", 0.77); },
       {"bag_0.db3 is truncated"}},
      {"not a bag database",
       [](const auto & dir) {
         std::filesystem::remove(dir / "bag_0.db3");
         bag_fixtures::sql(dir / "bag_0.db3", "CREATE TABLE other(x INTEGER)");
       },
       {"bag_0.db3 is not a bag database", "'topics'"}},
      {"damaged page",
       [](const auto & dir) {
         // Overwrite the middle of the messages' pages: the file keeps its size and header.
         const auto file = dir / "bag_0.db3";
         std::string bytes = bag_fixtures::read_file(file);
         const std::size_t page = 4096;
         for (std::size_t at = 2 * page; at + page < bytes.size(); at += page) {
           std::fill(
               bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + 64),
               '\xff');
         }
         bag_fixtures::write_file(file, bytes);
       },
       {"bag_0.db3", "malformed"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const auto dir = good_bag(tmp);
    c.damage(dir);
    expect_error(dir, c.message);
    // Rebuilding the metadata from such a file fails the same way.
    try {
      quorvel_bag::reindex(dir);
      ADD_FAILURE() << "reindex accepted the bad database";
    } catch (const BagError & error) {
      EXPECT_NE(std::string(error.what()).find("bag_0.db3"), std::string::npos) << error.what();
    }
  }
}

TEST(BadBags, a_row_of_an_unknown_topic_is_never_returned)
{
  TempDir tmp;
  const auto dir = good_bag(tmp);
  bag_fixtures::sql(dir / "bag_0.db3", "UPDATE messages SET topic_id = 99 WHERE id = 7");
  BagReader reader(dir);
  auto cursor = reader.messages();
  BagMessage message;
  std::vector<std::int64_t> returned;
  try {
    while (cursor.next(message)) {
      returned.push_back(message.id);
    }
    FAIL() << "the row with topic id 99 was not reported";
  } catch (const BagError & error) {
    EXPECT_NE(
        std::string(error.what()).find("message 7 of bag_0.db3 has topic id 99"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(returned, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
  expect_error(dir, {"message 7 of bag_0.db3 has topic id 99"});
  EXPECT_THROW(quorvel_bag::reindex(dir), BagError);
}

TEST(BadBags, bytes_that_do_not_decode_name_the_bag_topic_and_message)
{
  TempDir tmp;
  const auto dir = good_bag(tmp);
  // A joint state cut after its header, and a voice code of two bytes.
  bag_fixtures::sql(
      dir / "bag_0.db3",
      "UPDATE messages SET data = substr(data, 1, 12) WHERE id = 9;"
      "UPDATE messages SET data = x'00010000' WHERE id = 12");
  expect_error(
      dir, {"message 9 on /robot/joint_angle (sensor_msgs/msg/JointState) does not decode"});
  bag_fixtures::sql(dir / "bag_0.db3", "DELETE FROM messages WHERE id = 9");
  quorvel_bag::reindex(dir);
  expect_error(dir, {"message 12 on /arm/voice_broadcast (std_msgs/msg/Int32) does not decode"});

  // Asking for another type than the topic's is refused before any byte is read.
  BagReader reader(dir);
  auto cursor = reader.messages();
  BagMessage first;
  ASSERT_TRUE(cursor.next(first));
  EXPECT_THROW(quorvel_bag::decode<std_msgs::msg::Int32>(first, reader.label()), BagError);
}
