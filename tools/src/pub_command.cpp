// quorvel pub: publish one of the supervisor's inputs, once or at a rate.
#include <chrono>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "commands.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"

namespace quorvel_tools
{

const char kPubUsage[] =
    "usage: quorvel pub arm-state true|false   [--once | --rate HZ] [--topic NAME]\n"
    "       quorvel pub env-enable true|false  [--once | --rate HZ] [--topic NAME]\n"
    "       quorvel pub joints V1 [V2 ...]     [--once | --rate HZ] [--topic NAME]\n"
    "       quorvel pub env-object X Y         [--once | --rate HZ] [--topic NAME]\n"
    "\n"
    "Publishes one of the supervisor's inputs:\n"
    "  arm-state    std_msgs/Bool on /robot/unnormal_flag (true: the arm is abnormal)\n"
    "  env-enable   std_msgs/Bool on /quorvel_topic/env_enable (false: ignore environment stops)\n"
    "  joints       sensor_msgs/JointState on /robot/joint_angle, the values as positions\n"
    "  env-object   quorvel_protocol/Trashes on /quorvel/env_detect_topic, frame \"map\", one\n"
    "               object at (X, Y); an object nearer than 2.0 stops the arm by default\n"
    "\n"
    "options:\n"
    "  --once        (default) wait up to 2 s for a subscriber, publish once, wait up to 1 s\n"
    "                until every subscriber has the message\n"
    "  --rate HZ     publish HZ times a second until Ctrl-C\n"
    "  --topic NAME  publish on NAME instead of the default topic\n"
    "\n"
    "exit status: 0 published (once: and received); 1 once: no subscriber or not acknowledged;\n"
    "2 wrong arguments; 130 stopped by Ctrl-C before publishing.\n";

namespace
{

constexpr char kCommand[] = "quorvel pub";
constexpr auto kMatchWait = std::chrono::seconds(2);
constexpr auto kAckWait = std::chrono::seconds(1);
constexpr double kMaxRateHz = 1000.0;

const char * default_topic(PubKind kind)
{
  switch (kind) {
    case PubKind::kArmState:
      return kArmStateTopic;
    case PubKind::kEnvEnable:
      return kEnvEnableTopic;
    case PubKind::kJoints:
      return kJointAngleTopic;
    case PubKind::kEnvObject:
      return kEnvDetectTopic;
  }
  return "";
}

PubKind parse_kind(const std::string & word)
{
  if (word == "arm-state") {
    return PubKind::kArmState;
  }
  if (word == "env-enable") {
    return PubKind::kEnvEnable;
  }
  if (word == "joints") {
    return PubKind::kJoints;
  }
  if (word == "env-object") {
    return PubKind::kEnvObject;
  }
  throw UsageError("unknown input '" + word + "' (arm-state, env-enable, joints or env-object)");
}

// Fills the kind's values from its positional arguments.
void take_values(PubOptions & options, const std::vector<std::string> & words)
{
  switch (options.kind) {
    case PubKind::kArmState:
    case PubKind::kEnvEnable:
      if (words.size() != 1) {
        throw UsageError("needs exactly one value, true or false");
      }
      options.flag = parse_bool(words[0], "value");
      return;
    case PubKind::kJoints:
      if (words.empty()) {
        throw UsageError("joints needs at least one position");
      }
      for (const std::string & word : words) {
        options.values.push_back(parse_double(word, "joint position"));
      }
      return;
    case PubKind::kEnvObject:
      if (words.size() != 2) {
        throw UsageError("env-object needs two numbers, X and Y");
      }
      options.values = {parse_double(words[0], "X"), parse_double(words[1], "Y")};
      return;
  }
}

std::string describe(const PubOptions & options)
{
  std::ostringstream text;
  switch (options.kind) {
    case PubKind::kArmState:
    case PubKind::kEnvEnable:
      text << "data: " << (options.flag ? "true" : "false");
      break;
    case PubKind::kJoints:
      text << "position: [";
      for (std::size_t i = 0; i < options.values.size(); ++i) {
        text << (i == 0 ? "" : ", ") << options.values[i];
      }
      text << "]";
      break;
    case PubKind::kEnvObject:
      text << "one object at (" << options.values[0] << ", " << options.values[1] << "), frame map";
      break;
  }
  return text.str();
}

template <typename MessageT>
ExitCode publish(Session & session, const PubOptions & options, const MessageT & message)
{
  auto publisher = session.node()->create_publisher<MessageT>(options.topic, rclcpp::QoS(10));
  const std::string what = describe(options);

  if (options.rate_hz) {
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / *options.rate_hz));
    std::cout << "publishing on " << options.topic << " at " << *options.rate_hz << " Hz: " << what
              << " (Ctrl-C stops)" << std::endl;
    std::int64_t count = 0;
    auto next = std::chrono::steady_clock::now();
    while (session.interrupts() == 0) {
      publisher->publish(message);
      ++count;
      next += period;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          next - std::chrono::steady_clock::now());
      if (left.count() > 0) {
        session.spin_for(left);
      }
    }
    std::cout << "published " << count << " message(s) on " << options.topic << std::endl;
    return ExitCode::kOk;
  }

  // Volatile readers only get what is written after they matched this writer.
  const bool matched = session.spin_until(
      [&publisher] { return publisher->get_subscription_count() > 0; },
      std::chrono::duration_cast<std::chrono::milliseconds>(kMatchWait));
  if (session.interrupts() > 0) {
    std::cerr << kCommand << ": interrupted before publishing" << std::endl;
    return ExitCode::kInterrupted;
  }
  publisher->publish(message);
  if (!matched) {
    std::cerr << kCommand << ": no subscriber on " << options.topic << " within "
              << kMatchWait.count() << " s; published " << what << " but nobody received it"
              << std::endl;
    return ExitCode::kFailure;
  }
  const std::size_t subscribers = publisher->get_subscription_count();
  if (!publisher->wait_for_all_acked(
          std::chrono::duration_cast<std::chrono::milliseconds>(kAckWait))) {
    std::cerr << kCommand << ": published " << what << " on " << options.topic
              << ", but not every subscriber acknowledged it within " << kAckWait.count() << " s"
              << std::endl;
    return ExitCode::kFailure;
  }
  std::cout << "published on " << options.topic << ": " << what << " (" << subscribers
            << " subscriber" << (subscribers == 1 ? "" : "s") << ")" << std::endl;
  return ExitCode::kOk;
}

}  // namespace

PubOptions parse_pub(const std::vector<std::string> & args)
{
  PubOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  std::vector<std::string> words;
  std::optional<std::string> topic;
  bool once = false;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      words.push_back(reader.next_positional());
      continue;
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "once") {
      if (value) {
        throw UsageError("option --once takes no value");
      }
      once = true;
    } else if (name == "rate") {
      const double rate = parse_positive(reader.option_value(name, value), "--rate");
      if (rate > kMaxRateHz) {
        throw UsageError("--rate: at most 1000 Hz");
      }
      options.rate_hz = rate;
    } else if (name == "topic") {
      topic = check_ros_name(reader.option_value(name, value), "--topic");
    } else {
      throw_unknown_option(name);
    }
  }
  if (options.help) {
    return options;
  }
  if (once && options.rate_hz) {
    throw UsageError("--once and --rate exclude each other");
  }
  if (words.empty()) {
    throw UsageError("which input? arm-state, env-enable, joints or env-object");
  }
  options.kind = parse_kind(words.front());
  words.erase(words.begin());
  take_values(options, words);
  options.topic = topic ? *topic : default_topic(options.kind);
  return options;
}

ExitCode run_pub(const PubOptions & options, Session & session)
{
  switch (options.kind) {
    case PubKind::kArmState:
    case PubKind::kEnvEnable: {
      std_msgs::msg::Bool message;
      message.data = options.flag;
      return publish(session, options, message);
    }
    case PubKind::kJoints: {
      sensor_msgs::msg::JointState message;
      message.position = options.values;
      return publish(session, options, message);
    }
    case PubKind::kEnvObject: {
      quorvel_protocol::msg::Trashes message;
      message.header.frame_id = "map";
      message.trashes.resize(1);
      message.trashes[0].x = static_cast<float>(options.values[0]);
      message.trashes[0].y = static_cast<float>(options.values[1]);
      return publish(session, options, message);
    }
  }
  return ExitCode::kFailure;
}

}  // namespace quorvel_tools
