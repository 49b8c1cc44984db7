// quorvel record: the supervisor's task events and the arm's topics into a ROS 2 Humble bag.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "bag_text.hpp"
#include "commands.hpp"
#include "fleet/fleet_config.hpp"
#include "progress.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/writer.hpp"
#include "recorder.hpp"
#include "session.hpp"
#include "write_queue.hpp"

namespace quorvel_tools
{

const char kRecordUsage[] =
    "usage: quorvel record [-o DIR] [--topic NAME ...] [--duration S] [--domains LIST]\n"
    "\n"
    "Records into a ROS 2 Humble bag (a directory NAME with metadata.yaml and NAME_0.db3,\n"
    "sqlite3 storage), as ros2 bag record does: ros2 bag info and ros2 bag play read it,\n"
    "quorvel bag info shows it with the tasks in it. By default it records the supervisor's task\n"
    "events and every topic the supervisor reads or writes:\n"
    "  /quorvel/arm_supervisor/task_events, /robot/unnormal_flag, /robot/joint_angle,\n"
    "  /quorvel/env_detect_topic, /quorvel_topic/env_enable, /robot/ctrl_io_topic,\n"
    "  /robot/recover_topic, /arm/voice_broadcast\n"
    "Each topic is subscribed once a publisher of it appears, with the QoS its publishers offer\n"
    "(the task events transient local: a recording started during a task has it from its\n"
    "start), and each message is kept exactly as it travelled, stamped with its receive time.\n"
    "\n"
    "options:\n"
    "  -o, --output DIR  the bag directory; it must not exist (default rosbag2_<date>-<time>)\n"
    "  --topic NAME      record NAME instead of the default topics (repeat for more)\n"
    "  --duration S      stop after S seconds (default: until Ctrl-C)\n"
    "  --domains LIST    record each of these ROS domains (40-59, 3,7,9-12) into a bag of its\n"
    "                    own, DIR/domain_<N>, all at once: the arms of a fleet; ROS_DOMAIN_ID\n"
    "                    is not used then\n"
    "\n"
    "Ctrl-C (or SIGTERM) closes the bag: the last messages committed, metadata.yaml written.\n"
    "A recording killed outright keeps every message committed up to its last 0.1 s; rebuild\n"
    "its metadata.yaml with 'quorvel bag reindex DIR'. A full disk stops the recording with\n"
    "what was written kept.\n"
    "\n"
    "exit status: 0 the bag was closed; 1 it could not be written (existing directory, full\n"
    "disk); 2 wrong arguments.\n";

namespace
{

// How often the graph is searched for publishers of topics not yet recorded.
constexpr auto kPollPeriod = std::chrono::milliseconds(100);
// Messages waiting for the disk at most; beyond it they are dropped and counted, as the disk
// cannot keep up.
constexpr std::size_t kMaxQueuedBytes = 64u << 20;

std::string default_bag_name()
{
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::ostringstream name;
  name << "rosbag2_" << std::put_time(&local, "%Y_%m_%d-%H_%M_%S");
  return name.str();
}

std::string short_name(const std::string & topic)
{
  const std::size_t slash = topic.rfind('/');
  return slash == std::string::npos ? topic : topic.substr(slash + 1);
}

std::string qos_words(const std::vector<quorvel_bag::OfferedQos> & offers)
{
  const rclcpp::QoS qos = subscription_qos_for(offers);
  std::string words =
      qos.reliability() == rclcpp::ReliabilityPolicy::Reliable ? "reliable" : "best effort";
  words += qos.durability() == rclcpp::DurabilityPolicy::TransientLocal ? ", transient local"
                                                                        : ", volatile";
  words += ", " + std::to_string(offers.size()) + " publisher" + (offers.size() == 1 ? "" : "s");
  return words;
}

std::string progress_detail(const Recorder & recorder, const WriteQueue & queue)
{
  std::uint64_t total = 0;
  for (const auto & entry : recorder.topics()) {
    total += entry.second.messages;
  }
  std::ostringstream detail;
  detail << ", " << total << " messages";
  if (!recorder.topics().empty()) {
    detail << " (";
    bool first = true;
    for (const auto & entry : recorder.topics()) {
      detail << (first ? "" : ", ") << short_name(entry.first) << " " << entry.second.messages;
      first = false;
    }
    detail << ")";
  }
  detail << ", " << format_bag_size(queue.size_bytes());
  if (const std::uint64_t dropped = queue.dropped()) {
    detail << ", " << dropped << " dropped (the disk does not keep up)";
  }
  return detail.str();
}

// Closes a recording's bag and says how it ended; `label` names the bag among several ("" for
// one).
ExitCode close_bag(
    quorvel_bag::BagWriter & writer,
    const WriteQueue & queue,
    const std::string & output,
    const std::optional<quorvel_bag::BagError> & failure,
    double seconds,
    const std::string & label)
{
  const std::string who = label.empty() ? "quorvel record: " : "quorvel record: " + label + ": ";
  if (failure) {
    std::cerr << who << "recording stopped: " << failure->what() << std::endl;
  }
  try {
    const quorvel_bag::BagMetadata metadata = writer.close();
    std::ostringstream took;
    took << std::fixed << std::setprecision(1) << seconds;
    std::cout << "bag '" << quorvel_bag::bag_label(output) << "' closed: " << metadata.message_count
              << " messages on " << metadata.topics_with_message_count.size() << " topics, "
              << format_bag_size(writer.size_bytes()) << ", " << took.str() << " s" << std::endl;
  } catch (const quorvel_bag::BagError & error) {
    std::cerr << who << error.what() << std::endl;
    std::cerr << who << "the bag keeps the " << writer.committed_count()
              << " messages committed; once the disk has room, rebuild its metadata with "
              << "'quorvel bag reindex " << quorvel_bag::bag_label(output) << "'" << std::endl;
    return ExitCode::kFailure;
  }
  if (const std::uint64_t dropped = queue.dropped()) {
    std::cerr << who << dropped << " messages were dropped: they came faster "
              << "than the disk took them" << std::endl;
  }
  if (failure) {
    std::cerr << who << "the bag keeps the " << writer.committed_count()
              << " messages committed before" << (failure->disk_full() ? " the disk was full" : "")
              << std::endl;
    return ExitCode::kFailure;
  }
  return ExitCode::kOk;
}

}  // namespace

RecordOptions parse_record(const std::vector<std::string> & args)
{
  RecordOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "output") {
      options.output = reader.option_value(name, value);
      if (options.output.empty()) {
        throw UsageError("-o/--output: the bag directory may not be empty");
      }
    } else if (name == "topic") {
      const std::string topic = check_ros_name(reader.option_value(name, value), "--topic");
      if (std::find(options.topics.begin(), options.topics.end(), topic) == options.topics.end()) {
        options.topics.push_back(topic);
      }
    } else if (name == "duration") {
      options.duration_s = parse_positive(reader.option_value(name, value), "--duration");
    } else if (name == "domains") {
      options.domains = domains_option(reader.option_value(name, value));
    } else {
      throw_unknown_option(name);
    }
  }
  return options;
}

ExitCode run_record(const RecordOptions & options, Session & session)
{
  // A file-size limit then shows as a failed write, reported like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::string output = options.output.empty() ? default_bag_name() : options.output;
  const std::vector<std::string> topics =
      options.topics.empty() ? default_record_topics(kTaskEventsTopic) : options.topics;

  quorvel_bag::BagWriter writer(output);
  WriteQueue queue(writer, kMaxQueuedBytes);
  Progress progress(std::cout, Progress::stdout_is_terminal());
  Recorder recorder(
      session.node(),
      queue,
      topics,
      [&progress](const RecordedTopic & topic) {
        progress.clear();
        std::cout << "recording " << topic.name << " (" << topic.type << ", "
                  << qos_words(topic.offers) << ")" << std::endl;
      },
      [&progress](const std::string & name, const std::string & type, const std::string & why) {
        progress.clear();
        std::cerr << "quorvel record: " << name << " (" << type
                  << ") cannot be recorded here, left out: " << why << std::endl;
      });
  std::cout << "recording into " << output << " (Ctrl-C stops); waiting for publishers of "
            << topics.size() << " topic" << (topics.size() == 1 ? "" : "s") << std::endl;

  const auto start = std::chrono::steady_clock::now();
  const auto end = options.duration_s
                       ? start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(*options.duration_s))
                       : std::chrono::steady_clock::time_point::max();
  auto next_poll = start;
  std::optional<quorvel_bag::BagError> failure;
  while (session.interrupts() == 0) {
    const auto now = std::chrono::steady_clock::now();
    failure = queue.failure();
    if (failure || now >= end) {
      break;
    }
    if (now >= next_poll) {
      try {
        recorder.poll();
      } catch (const quorvel_bag::BagError & error) {
        failure = error;
        break;
      }
      next_poll = now + kPollPeriod;
    }
    progress.update("recording into " + output, progress_detail(recorder, queue));
    const auto budget =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::min(next_poll, end) - now) +
        std::chrono::milliseconds(1);
    session.spin_until([] { return false; }, budget);
  }
  progress.clear();
  // What was received is written before the bag is closed.
  queue.stop();
  if (!failure) {
    failure = queue.failure();
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (close_bag(writer, queue, output, failure, seconds, "") != ExitCode::kOk) {
    return ExitCode::kFailure;
  }
  const std::vector<std::string> never = recorder.waiting();
  if (!never.empty()) {
    std::cout << "no publisher appeared on:";
    for (const std::string & name : never) {
      std::cout << " " << name;
    }
    std::cout << std::endl;
  }
  return ExitCode::kOk;
}

namespace
{

// One domain of a recording of several: its own context and node, spun by a thread of its own,
// into a bag of its own.
struct DomainRecording
{
  std::uint32_t domain = 0;
  std::string output;
  rclcpp::Context::SharedPtr context;
  rclcpp::Node::SharedPtr node;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor;
  std::unique_ptr<quorvel_bag::BagWriter> writer;
  std::unique_ptr<WriteQueue> queue;
  std::unique_ptr<Recorder> recorder;
  std::thread thread;
  std::atomic<std::uint64_t> messages{0};
  std::atomic<bool> stopped{false};               // its thread ended (a failure, or stop)
  std::optional<quorvel_bag::BagError> failure;   // its thread's, read after the join
  std::vector<std::string> never;                 // topics without a publisher, after the join
};

void release_domain(DomainRecording & recording)
{
  if (recording.executor && recording.node) {
    recording.executor->remove_node(recording.node);
  }
  recording.recorder.reset();
  recording.executor.reset();
  recording.node.reset();
  if (recording.context && recording.context->is_valid()) {
    recording.context->shutdown("quorvel record stopping");
  }
}

}  // namespace

ExitCode run_record_domains(const RecordOptions & options, int argc, char ** argv)
{
  std::signal(SIGXFSZ, SIG_IGN);
  count_interrupts();
  const std::vector<std::uint32_t> domains = parse_domain_list(options.domains);
  const std::filesystem::path parent = options.output.empty() ? default_bag_name() : options.output;
  std::error_code error;
  if (std::filesystem::exists(parent, error)) {
    std::cerr << "quorvel record: " << parent.string()
              << " exists; give a new directory for the bags (-o DIR)" << std::endl;
    return ExitCode::kFailure;
  }
  if (!std::filesystem::create_directories(parent, error)) {
    std::cerr << "quorvel record: cannot create " << parent.string() << ": " << error.message()
              << std::endl;
    return ExitCode::kFailure;
  }
  const std::vector<std::string> topics =
      options.topics.empty() ? default_record_topics(kTaskEventsTopic) : options.topics;

  std::mutex print_mutex;
  std::vector<std::unique_ptr<DomainRecording>> recordings;
  const auto release_all = [&recordings] {
    for (auto & recording : recordings) {
      release_domain(*recording);
    }
  };
  for (const std::uint32_t domain : domains) {
    auto recording = std::make_unique<DomainRecording>();
    DomainRecording & r = *recording;
    recordings.push_back(std::move(recording));
    r.domain = domain;
    r.output = (parent / ("domain_" + std::to_string(domain))).string();
    try {
      rclcpp::InitOptions init_options;
      init_options.shutdown_on_signal = false;
      init_options.set_domain_id(domain);
      r.context = std::make_shared<rclcpp::Context>();
      r.context->init(argc, argv, init_options);
      r.node = std::make_shared<rclcpp::Node>(
          "quorvel_record", rclcpp::NodeOptions().context(r.context));
      rclcpp::ExecutorOptions executor_options;
      executor_options.context = r.context;
      r.executor = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(executor_options);
      r.executor->add_node(r.node);
      r.writer = std::make_unique<quorvel_bag::BagWriter>(r.output);
      r.queue = std::make_unique<WriteQueue>(*r.writer, kMaxQueuedBytes / domains.size());
      const std::string label = "domain " + std::to_string(domain);
      r.recorder = std::make_unique<Recorder>(
          r.node,
          *r.queue,
          topics,
          [&print_mutex, label](const RecordedTopic & topic) {
            std::lock_guard<std::mutex> lock(print_mutex);
            std::cout << label << ": recording " << topic.name << " (" << topic.type << ", "
                      << qos_words(topic.offers) << ")" << std::endl;
          },
          [&print_mutex, label](
              const std::string & name, const std::string & type, const std::string & why) {
            std::lock_guard<std::mutex> lock(print_mutex);
            std::cerr << "quorvel record: " << label << ": " << name << " (" << type
                      << ") cannot be recorded here, left out: " << why << std::endl;
          });
    } catch (const std::exception & failure) {
      std::cerr << "quorvel record: domain " << domain << ": " << failure.what() << std::endl;
      release_all();
      return ExitCode::kFailure;
    }
  }
  std::cout << "recording " << domains.size() << " domain" << (domains.size() == 1 ? "" : "s")
            << " into " << parent.string() << "/domain_<N> (Ctrl-C stops); waiting for "
            << "publishers of " << topics.size() << " topic" << (topics.size() == 1 ? "" : "s")
            << " on each" << std::endl;

  std::atomic<bool> running{true};
  for (auto & recording : recordings) {
    DomainRecording * r = recording.get();
    r->thread = std::thread([r, &running] {
      auto next_poll = std::chrono::steady_clock::now();
      while (running.load()) {
        if (auto failure = r->queue->failure()) {
          r->failure = failure;
          break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_poll) {
          try {
            r->recorder->poll();
          } catch (const quorvel_bag::BagError & failure) {
            r->failure = failure;
            break;
          }
          next_poll = now + kPollPeriod;
        }
        r->executor->spin_once(std::chrono::milliseconds(20));
        std::uint64_t total = 0;
        for (const auto & entry : r->recorder->topics()) {
          total += entry.second.messages;
        }
        r->messages.store(total);
      }
      r->never = r->recorder->waiting();
      r->stopped.store(true);
    });
  }

  const auto start = std::chrono::steady_clock::now();
  const auto end = options.duration_s
                       ? start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(*options.duration_s))
                       : std::chrono::steady_clock::time_point::max();
  Progress progress(std::cout, Progress::stdout_is_terminal());
  while (interrupt_count() == 0 && std::chrono::steady_clock::now() < end) {
    std::uint64_t total = 0;
    std::size_t failed = 0;
    for (const auto & recording : recordings) {
      total += recording->messages.load();
      failed += recording->stopped.load() ? 1 : 0;
    }
    if (failed == recordings.size()) {
      break;
    }
    {
      std::lock_guard<std::mutex> lock(print_mutex);
      progress.update(
          "recording " + std::to_string(recordings.size()) + " domains into " + parent.string(),
          ", " + std::to_string(total) + " messages" +
              (failed > 0 ? ", " + std::to_string(failed) + " stopped (see above)" : ""));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  running.store(false);
  for (auto & recording : recordings) {
    recording->thread.join();
  }
  progress.clear();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExitCode status = ExitCode::kOk;
  for (auto & recording : recordings) {
    DomainRecording & r = *recording;
    r.queue->stop();
    std::optional<quorvel_bag::BagError> failure = r.failure;
    if (!failure) {
      failure = r.queue->failure();
    }
    const std::string label = "domain " + std::to_string(r.domain);
    if (close_bag(*r.writer, *r.queue, r.output, failure, seconds, label) != ExitCode::kOk) {
      status = ExitCode::kFailure;
    }
    if (!r.never.empty() && r.never.size() == topics.size()) {
      std::cout << label << ": nothing was published on it" << std::endl;
    } else if (!r.never.empty()) {
      std::cout << label << ": no publisher appeared on:";
      for (const std::string & name : r.never) {
        std::cout << " " << name;
      }
      std::cout << std::endl;
    }
  }
  release_all();
  return status;
}

}  // namespace quorvel_tools
