// Writing and reading bags: round trips byte for byte, metadata.yaml, bags laid out as ROS 2
// Humble's writer leaves them (journal in memory, WAL, a killed writer), and reindex.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <quorvel_task_events/msg/task_event.hpp>
#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/bool.hpp>

#include "bag_fixtures.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/metadata.hpp"
#include "quorvel_bag/qos_profile.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/reindex.hpp"
#include "quorvel_bag/writer.hpp"

using bag_fixtures::TempDir;
using quorvel_bag::BagError;
using quorvel_bag::BagMessage;
using quorvel_bag::BagReader;
using quorvel_bag::BagWriter;

namespace
{

constexpr std::int64_t kT0 = 1765152000000000000;

std::vector<BagMessage> read_all(const BagReader & reader, quorvel_bag::MessageFilter filter = {})
{
  std::vector<BagMessage> messages;
  auto cursor = reader.messages(filter);
  BagMessage message;
  while (cursor.next(message)) {
    messages.push_back(message);
  }
  return messages;
}

sensor_msgs::msg::JointState joints(double first)
{
  sensor_msgs::msg::JointState message;
  message.name = {"joint1", "joint2", "joint3", "joint4", "joint5"};
  message.position = {first, -0.5236, 1.0472, -0.5236, 0.0};
  return message;
}

std_msgs::msg::Bool flag(bool value)
{
  std_msgs::msg::Bool message;
  message.data = value;
  return message;
}

/// Topics and messages written the same way to a bag of ours and to a hand-made Humble one.
struct Recording
{
  std::vector<bag_fixtures::RawTopic> topics{
      {"/robot/joint_angle", "sensor_msgs/msg/JointState", bag_fixtures::humble_qos_text()},
      {"/robot/unnormal_flag", "std_msgs/msg/Bool", bag_fixtures::humble_qos_text()},
      {"/not/ours", "tf2_msgs/msg/TFMessage", bag_fixtures::humble_qos_text(1)},
  };
  std::vector<bag_fixtures::RawMessage> messages;

  Recording()
  {
    // Deliberately out of order: the file keeps arrival order, readers order by time.
    messages.push_back({1, kT0 + 300, bag_fixtures::serialize(joints(0.3))});
    messages.push_back({2, kT0 + 100, bag_fixtures::serialize(flag(true))});
    messages.push_back({1, kT0 + 200, bag_fixtures::serialize(joints(0.2))});
    messages.push_back({3, kT0 + 250, {0x00, 0x01, 0x00, 0x00, 0xde, 0xad, 0xbe, 0xef}});
    messages.push_back({2, kT0 + 200, bag_fixtures::serialize(flag(false))});
  }

  /// The messages in the order a reader must give them: by time, ties in writing order.
  std::vector<bag_fixtures::RawMessage> in_time_order() const
  {
    std::vector<bag_fixtures::RawMessage> sorted = messages;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto & a, const auto & b) {
      return a.timestamp_ns < b.timestamp_ns;
    });
    return sorted;
  }
};

void expect_recording(const BagReader & reader, const Recording & recording)
{
  const auto expected = recording.in_time_order();
  const auto got = read_all(reader);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("message " + std::to_string(i));
    EXPECT_EQ(got[i].timestamp_ns, expected[i].timestamp_ns);
    EXPECT_EQ(got[i].topic->name, recording.topics[expected[i].topic_id - 1].name);
    EXPECT_EQ(got[i].data, expected[i].data);
  }
  ASSERT_EQ(reader.topics().size(), 3u);
  EXPECT_EQ(reader.find_topic("/robot/joint_angle")->message_count, 2u);
  EXPECT_EQ(reader.metadata().message_count, 5u);
  EXPECT_EQ(reader.metadata().starting_time_ns, kT0 + 100);
  EXPECT_EQ(reader.metadata().duration_ns, 200);
  EXPECT_NO_THROW(reader.check_counts());
}

}  // namespace

TEST(BagFiles, messages_come_back_byte_for_byte_in_time_order_with_humble_metadata)
{
  TempDir tmp;
  const Recording recording;
  const auto dir = tmp / "rec";
  {
    BagWriter writer(dir, 2);
    for (const auto & topic : recording.topics) {
      writer.add_topic({topic.name, topic.type, "cdr", topic.offered_qos_profiles});
    }
    for (const auto & m : recording.messages) {
      writer.write(m.topic_id, m.timestamp_ns, m.data.data(), m.data.size());
    }
    const auto metadata = writer.close();
    EXPECT_EQ(metadata.message_count, 5u);
  }
  BagReader reader(dir);
  expect_recording(reader, recording);

  // The files a Humble reader expects, with Humble's schema row and no journal left behind.
  const auto db = dir / "rec_0.db3";
  EXPECT_EQ(reader.metadata().relative_file_paths, std::vector<std::string>{"rec_0.db3"});
  ASSERT_EQ(reader.metadata().files.size(), 1u);
  EXPECT_EQ(reader.metadata().files[0].message_count, 5u);
  EXPECT_EQ(
      bag_fixtures::sql_int(db, "SELECT schema_version FROM schema WHERE ros_distro = 'humble'"),
      3);
  EXPECT_EQ(bag_fixtures::sql_int(db, "SELECT count(*) FROM metadata"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "rec_0.db3-wal"));
  EXPECT_EQ(bag_fixtures::read_file(db).substr(18, 2), std::string("\x01\x01", 2))
      << "the closed file should be in rollback-journal mode, as Humble leaves it";

  // A filter by topic and time window, as a replay seeks.
  quorvel_bag::MessageFilter filter;
  filter.topics = {"/robot/unnormal_flag"};
  filter.from_ns = kT0 + 150;
  const auto flags = read_all(reader, filter);
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0].timestamp_ns, kT0 + 200);
  EXPECT_FALSE(quorvel_bag::decode<std_msgs::msg::Bool>(flags[0], reader.label()).data);
  filter.topics = {"/no/such/topic"};
  EXPECT_THROW(reader.messages(filter), BagError);
}

TEST(BagFiles, metadata_survives_its_own_yaml_and_keeps_the_qos_text)
{
  quorvel_bag::BagMetadata metadata;
  metadata.starting_time_ns = kT0;
  metadata.duration_ns = 12345678901;
  metadata.message_count = 7;
  quorvel_bag::OfferedQos offer;
  offer.history = 1;
  offer.depth = 2000;
  offer.durability = 1;
  offer.deadline = {9223372036u, 854775807u};
  metadata.topics_with_message_count.push_back(
      {{"/quorvel/arm_supervisor/task_events",
        "quorvel_task_events/msg/TaskEvent",
        "cdr",
        quorvel_bag::offered_qos_to_yaml({offer, quorvel_bag::OfferedQos{}})},
       7});
  metadata.relative_file_paths = {"rec_0.db3"};
  metadata.files.push_back({"rec_0.db3", kT0, 12345678901, 7});

  const std::string text = quorvel_bag::metadata_to_yaml(metadata);
  EXPECT_NE(text.find("rosbag2_bagfile_information:"), std::string::npos);
  EXPECT_NE(text.find("offered_qos_profiles: \"- history: 1\\n  depth: 2000\\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("compression_format: \"\""), std::string::npos) << text;
  const auto back = quorvel_bag::metadata_from_yaml(text);
  EXPECT_EQ(back.version, 5);
  EXPECT_EQ(back.starting_time_ns, kT0);
  EXPECT_EQ(back.duration_ns, 12345678901);
  ASSERT_EQ(back.topics_with_message_count.size(), 1u);
  const auto & topic = back.topics_with_message_count[0].topic_metadata;
  EXPECT_EQ(
      topic.offered_qos_profiles,
      metadata.topics_with_message_count[0].topic_metadata.offered_qos_profiles);
  const auto offers = quorvel_bag::offered_qos_from_yaml(topic.offered_qos_profiles);
  ASSERT_EQ(offers.size(), 2u);
  EXPECT_EQ(offers[0], offer);
  EXPECT_EQ(offers[1], quorvel_bag::OfferedQos{});
  ASSERT_EQ(back.files.size(), 1u);
  EXPECT_EQ(back.files[0].duration_ns, 12345678901);

  // An empty bag reads back with Humble's "no start" time.
  quorvel_bag::BagMetadata empty;
  empty.relative_file_paths = {"e_0.db3"};
  EXPECT_EQ(
      quorvel_bag::metadata_from_yaml(quorvel_bag::metadata_to_yaml(empty)).starting_time_ns,
      quorvel_bag::kNoStartingTime);
}

TEST(BagFiles, bags_written_the_way_humble_writes_them_are_read_whole)
{
  const Recording recording;
  for (const auto journal :
       {bag_fixtures::Journal::kMemory,
        bag_fixtures::Journal::kWalClosed,
        bag_fixtures::Journal::kWalKilled}) {
    SCOPED_TRACE("journal " + std::to_string(static_cast<int>(journal)));
    TempDir tmp;
    const auto dir = tmp / "robot_bag";
    bag_fixtures::make_humble_bag(dir, recording.topics, recording.messages, journal);
    if (journal == bag_fixtures::Journal::kWalKilled) {
      ASSERT_TRUE(std::filesystem::exists(dir / "robot_bag_0.db3-wal"));
      // Killed in the middle of a checkpoint: page 1 of the main file already counts pages that
      // only the WAL holds so far.
      std::string main = bag_fixtures::read_file(dir / "robot_bag_0.db3");
      ASSERT_GE(main.size(), 100u);
      main[28] = main[29] = main[30] = 0;
      main[31] = 9;
      for (int i = 0; i < 4; ++i) {
        main[92 + i] = main[24 + i];
      }
      bag_fixtures::write_file(dir / "robot_bag_0.db3", main);
    }
    BagReader reader(dir);
    expect_recording(reader, recording);
    const auto * joint_topic = reader.find_topic("/robot/joint_angle");
    ASSERT_EQ(joint_topic->offered_qos.size(), 1u);
    EXPECT_EQ(joint_topic->offered_qos[0].deadline.sec, 9223372036u);
    EXPECT_EQ(reader.find_topic("/not/ours")->offered_qos[0].durability, 1);
    // The unknown type is listed but never decoded; the known ones decode.
    for (const auto & message : read_all(reader)) {
      EXPECT_EQ(
          quorvel_bag::check_decodes(message, reader.label()), message.topic->name != "/not/ours");
    }
  }
}

namespace
{

std::string zstd_of(const std::string & bytes)
{
  std::string out(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t n = ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), 3);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

// What ros2 bag record --compression-format zstd changes in a bag made the Humble way.
void compress_bag(const std::filesystem::path & dir, const std::string & mode)
{
  const std::string db = dir.filename().string() + "_0.db3";
  std::string metadata = bag_fixtures::read_file(dir / "metadata.yaml");
  const auto set = [&metadata](const std::string & from, const std::string & to) {
    for (auto at = metadata.find(from); at != std::string::npos; at = metadata.find(from, at + to.size())) {
      metadata.replace(at, from.size(), to);
    }
  };
  set("compression_format: \"\"", "compression_format: zstd");
  set("compression_mode: \"\"", "compression_mode: " + mode);
  if (mode == "FILE") {
    set(db, db + ".zstd");
    bag_fixtures::write_file(dir / (db + ".zstd"), zstd_of(bag_fixtures::read_file(dir / db)));
    std::filesystem::remove(dir / db);
  } else {
    sqlite3 * handle = nullptr;
    ASSERT_EQ(sqlite3_open((dir / db).c_str(), &handle), SQLITE_OK);
    std::vector<std::pair<std::int64_t, std::string>> rows;
    sqlite3_stmt * select = nullptr;
    sqlite3_prepare_v2(handle, "SELECT id, data FROM messages", -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
      const auto * blob = static_cast<const char *>(sqlite3_column_blob(select, 1));
      rows.emplace_back(
          sqlite3_column_int64(select, 0),
          zstd_of(std::string(blob, static_cast<std::size_t>(sqlite3_column_bytes(select, 1)))));
    }
    sqlite3_finalize(select);
    for (const auto & [id, data] : rows) {
      sqlite3_stmt * update = nullptr;
      sqlite3_prepare_v2(handle, "UPDATE messages SET data = ?1 WHERE id = ?2", -1, &update, nullptr);
      sqlite3_bind_blob(update, 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int64(update, 2, id);
      EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
      sqlite3_finalize(update);
    }
    sqlite3_close(handle);
  }
  bag_fixtures::write_file(dir / "metadata.yaml", metadata);
}

std::size_t scratch_directories()
{
  std::size_t n = 0;
  for (const auto & entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    n += entry.path().filename().string().rfind("quorvel-bag-decompressed-", 0) == 0;
  }
  return n;
}

}  // namespace

TEST(BagFiles, zstd_bags_are_read_in_file_and_message_mode_and_a_damaged_one_is_named)
{
  const Recording recording;
  const std::size_t scratch_before = scratch_directories();
  for (const std::string mode : {"FILE", "message"}) {
    SCOPED_TRACE(mode);
    TempDir tmp;
    const auto dir = tmp / "robot_bag";
    bag_fixtures::make_humble_bag(
        dir, recording.topics, recording.messages, bag_fixtures::Journal::kMemory);
    compress_bag(dir, mode);
    {
      BagReader reader(dir);
      EXPECT_EQ(reader.metadata().compression_format, "zstd");
      expect_recording(reader, recording);
    }
    EXPECT_EQ(scratch_directories(), scratch_before) << "a decompressed copy outlived its reader";
  }

  // A compressed database cut short, and a message that is no zstd frame: named, not read.
  TempDir tmp;
  const auto cut = tmp / "cut_bag";
  bag_fixtures::make_humble_bag(cut, recording.topics, recording.messages, bag_fixtures::Journal::kMemory);
  compress_bag(cut, "FILE");
  const std::string whole = bag_fixtures::read_file(cut / "cut_bag_0.db3.zstd");
  bag_fixtures::write_file(cut / "cut_bag_0.db3.zstd", whole.substr(0, whole.size() / 2));
  try {
    BagReader reader(cut);
    ADD_FAILURE() << "a truncated compressed database was read";
  } catch (const BagError & error) {
    EXPECT_NE(std::string(error.what()).find("cut_bag_0.db3.zstd does not decompress"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(scratch_directories(), scratch_before);
  const auto bad = tmp / "bad_bag";
  bag_fixtures::make_humble_bag(bad, recording.topics, recording.messages, bag_fixtures::Journal::kMemory);
  compress_bag(bad, "MESSAGE");
  bag_fixtures::sql(bad / "bad_bag_0.db3", "UPDATE messages SET data = x'00010203' WHERE id = 2");
  BagReader reader(bad);
  EXPECT_THROW(read_all(reader), BagError);

  // Another format is refused with what to do.
  const auto lz4 = tmp / "lz4_bag";
  bag_fixtures::make_humble_bag(lz4, recording.topics, recording.messages, bag_fixtures::Journal::kMemory);
  std::string metadata = bag_fixtures::read_file(lz4 / "metadata.yaml");
  metadata.replace(metadata.find("compression_format: \"\""), 22, "compression_format: lz4");
  metadata.replace(metadata.find("compression_mode: \"\""), 20, "compression_mode: FILE");
  bag_fixtures::write_file(lz4 / "metadata.yaml", metadata);
  try {
    BagReader refused(lz4);
    ADD_FAILURE() << "an lz4 bag was read";
  } catch (const BagError & error) {
    EXPECT_NE(std::string(error.what()).find("ros2 bag convert"), std::string::npos) << error.what();
  }
}

TEST(BagFiles, reindex_rebuilds_metadata_after_a_writer_is_killed)
{
  TempDir tmp;
  const auto dir = tmp / "killed";
  // The writer commits batches of 3 and dies with 2 more messages uncommitted.
  const pid_t child = fork();
  if (child == 0) {
    try {
      BagWriter writer(dir, 3);
      const auto flags = writer.add_topic({"/robot/unnormal_flag", "std_msgs/msg/Bool", "cdr", ""});
      const auto data = bag_fixtures::serialize(flag(true));
      for (int i = 0; i < 8; ++i) {
        writer.write(flags, kT0 + i, data.data(), data.size());
      }
      _exit(0);  // the writer never closes, as under SIGKILL
    } catch (...) {
      _exit(1);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  try {
    BagReader reader(dir);
    FAIL() << "a bag without metadata.yaml was read";
  } catch (const BagError & error) {
    EXPECT_NE(std::string(error.what()).find("quorvel bag reindex"), std::string::npos)
        << error.what();
  }
  const auto rebuilt = quorvel_bag::reindex(dir);
  EXPECT_EQ(rebuilt.message_count, 6u);
  EXPECT_EQ(rebuilt.starting_time_ns, kT0);
  EXPECT_EQ(rebuilt.duration_ns, 5);
  BagReader reader(dir);
  EXPECT_EQ(read_all(reader).size(), 6u);
  EXPECT_NO_THROW(reader.check_counts());

  // Reindexing a clean bag gives back what its writer wrote.
  const auto clean = tmp / "clean";
  quorvel_bag::BagMetadata written;
  {
    const Recording recording;
    BagWriter writer(clean);
    for (const auto & topic : recording.topics) {
      writer.add_topic({topic.name, topic.type, "cdr", topic.offered_qos_profiles});
    }
    for (const auto & m : recording.messages) {
      writer.write(m.topic_id, m.timestamp_ns, m.data.data(), m.data.size());
    }
    written = writer.close();
  }
  const std::string before = bag_fixtures::read_file(clean / "metadata.yaml");
  std::filesystem::remove(clean / "metadata.yaml");
  quorvel_bag::reindex(clean);
  EXPECT_EQ(bag_fixtures::read_file(clean / "metadata.yaml"), before);
}

TEST(BagFiles, a_writer_never_writes_over_an_existing_path)
{
  TempDir tmp;
  std::filesystem::create_directory(tmp / "taken");
  bag_fixtures::write_file(tmp / "taken" / "keep.txt", "precious");
  try {
    BagWriter writer(tmp / "taken");
    FAIL() << "an existing directory was accepted";
  } catch (const BagError & error) {
    EXPECT_NE(std::string(error.what()).find("already exists"), std::string::npos) << error.what();
  }
  EXPECT_EQ(bag_fixtures::read_file(tmp / "taken" / "keep.txt"), "precious");
  bag_fixtures::write_file(tmp / "file", "x");
  EXPECT_THROW(BagWriter(tmp / "file"), BagError);
  EXPECT_THROW(BagWriter(tmp / "no" / "parent"), BagError);
  EXPECT_FALSE(std::filesystem::exists(tmp / "no"));
}
