// For scripts/bench.d/80-scene.sh:
//   bench_scene_bag repeat SOURCE TARGET N   a bag of N copies of SOURCE's tasks one after
//                                            another: its messages shifted in time, the task
//                                            events renumbered and given goal ids of their own
//   bench_scene_bag derive BAG               the scene of every task of BAG, as quorvel scene
//                                            derives one, timed from opening the bag to the
//                                            last scene's text
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>

#include "quorvel_arm_sim/scene_from_bag.hpp"
#include "quorvel_arm_sim/scene_writer.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"
#include "quorvel_bag/writer.hpp"

namespace
{

using quorvel_bag::TaskEvent;

int repeat(const std::string & source, const std::string & target, int copies)
{
  const quorvel_bag::BagReader reader(source);
  const quorvel_bag::BagMetadata & metadata = reader.metadata();
  const std::int64_t span = metadata.duration_ns + 1000000000;
  std::uint64_t seq_span = 0;
  for (const auto & recorded : quorvel_bag::read_task_events(reader)) {
    seq_span = std::max(seq_span, recorded.event.seq);
  }
  quorvel_bag::BagWriter writer(target);
  std::map<std::string, std::int64_t> ids;
  for (const quorvel_bag::BagTopic & topic : reader.topics()) {
    ids[topic.name] = writer.add_topic(
        {topic.name, topic.type, topic.serialization_format, topic.offered_qos_profiles});
  }
  const std::string event_type = rosidl_generator_traits::name<TaskEvent>();
  const rclcpp::Serialization<TaskEvent> serialization;
  for (int copy = 0; copy < copies; ++copy) {
    const std::int64_t shift = copy * span;
    quorvel_bag::MessageCursor cursor = reader.messages();
    quorvel_bag::BagMessage message;
    while (cursor.next(message)) {
      const std::int64_t id = ids[message.topic->name];
      if (message.topic->type != event_type) {
        writer.write(id, message.timestamp_ns + shift, message.data.data(), message.data.size());
        continue;
      }
      TaskEvent event = quorvel_bag::decode<TaskEvent>(message, reader.label());
      event.seq += static_cast<std::uint64_t>(copy) * seq_span;
      event.goal_id.uuid[13] = static_cast<std::uint8_t>(copy >> 8);
      event.goal_id.uuid[14] = static_cast<std::uint8_t>(copy & 0xff);
      const std::int64_t stamp =
          static_cast<std::int64_t>(event.stamp.sec) * 1000000000 + event.stamp.nanosec + shift;
      event.stamp.sec = static_cast<std::int32_t>(stamp / 1000000000);
      event.stamp.nanosec = static_cast<std::uint32_t>(stamp % 1000000000);
      rclcpp::SerializedMessage serialized;
      serialization.serialize_message(&event, &serialized);
      const auto & raw = serialized.get_rcl_serialized_message();
      writer.write(id, message.timestamp_ns + shift, raw.buffer, raw.buffer_length);
    }
  }
  const quorvel_bag::BagMetadata written = writer.close();
  std::cout << "bench_scene_bag: " << target << ": " << written.message_count << " messages, "
            << copies << " copies of " << source << std::endl;
  return 0;
}

int derive(const std::string & bag)
{
  const auto start = std::chrono::steady_clock::now();
  const quorvel_bag::BagReader reader(bag);
  const std::vector<quorvel_bag::TaskRecord> tasks = quorvel_bag::find_tasks(reader);
  const quorvel_arm_sim::ArmRecording arm = quorvel_arm_sim::read_arm_recording(reader);
  std::size_t characters = 0;
  std::size_t partial = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const quorvel_arm_sim::DerivedScene derived =
        quorvel_arm_sim::derive_scene(tasks[i], arm, {reader.label(), i + 1, tasks.size()});
    characters += quorvel_arm_sim::write_scene(derived.scene, derived.notes, derived.header).size();
    partial += derived.problems.empty() ? 0 : 1;
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "bench_scene_bag: " << tasks.size() << " scenes (" << characters
            << " characters, " << partial << " with something not played) from "
            << reader.metadata().message_count << " messages in " << ms << " ms" << std::endl;
  std::cout << "BENCH scene_from_bag_ms " << static_cast<long long>(ms + 0.5) << " ms" << std::endl;
  return tasks.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 4 && args[0] == "repeat") {
      return repeat(args[1], args[2], std::stoi(args[3]));
    }
    if (args.size() == 2 && args[0] == "derive") {
      return derive(args[1]);
    }
  } catch (const std::exception & error) {
    std::cerr << "bench_scene_bag: " << error.what() << std::endl;
    return 1;
  }
  std::cerr << "usage: bench_scene_bag repeat SOURCE TARGET N | derive BAG" << std::endl;
  return 2;
}
