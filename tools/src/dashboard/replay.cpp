#include "dashboard/replay.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

#include "codes.hpp"
#include "dashboard/feed.hpp"
#include "quorvel_bag/decode.hpp"

namespace quorvel_tools
{

namespace
{

constexpr std::int64_t kNsPerMs = 1000000;

std::int64_t floor_ms(std::int64_t ns)
{
  const std::int64_t ms = ns / kNsPerMs;
  return (ns % kNsPerMs < 0) ? ms - 1 : ms;
}

FeedMessage decode_feed(
    FeedTopic input, const quorvel_bag::BagMessage & message, const std::string & label)
{
  using quorvel_bag::decode;
  FeedMessage out;
  out.received_ms = floor_ms(message.timestamp_ns);
  switch (input) {
    case FeedTopic::kTaskEvents:
      out.message = decode<TaskEvent>(message, label);
      break;
    case FeedTopic::kArmState:
      out.message = decode<std_msgs::msg::Bool>(message, label);
      break;
    case FeedTopic::kGripper:
      out.message = decode<std_msgs::msg::Int32MultiArray>(message, label);
      break;
    case FeedTopic::kVoice:
      out.message = decode<std_msgs::msg::Int32>(message, label);
      break;
    case FeedTopic::kJoints:
      out.message = decode<sensor_msgs::msg::JointState>(message, label);
      break;
    case FeedTopic::kSurroundings:
      out.message = decode<quorvel_protocol::msg::Trashes>(message, label);
      break;
    case FeedTopic::kNone:
      break;
  }
  return out;
}

}  // namespace

BagReplay::BagReplay(
    const std::filesystem::path & bag, const ReplayProgress & progress, ReplaySettings settings)
    : settings_(settings), reader_(std::make_unique<quorvel_bag::BagReader>(bag))
{
  const quorvel_bag::BagReader & reader = *reader_;
  reader.check_counts();
  const quorvel_bag::BagMetadata & metadata = reader.metadata();
  if (metadata.message_count > 0) {
    start_ns_ = metadata.starting_time_ns;
    duration_ns_ = metadata.duration_ns;
  }
  std::map<const quorvel_bag::BagTopic *, FeedTopic> inputs;
  for (const quorvel_bag::BagTopic & topic : reader.topics()) {
    const FeedTopic input = feed_topic(topic.name, topic.type);
    inputs[&topic] = input;
    if (input != FeedTopic::kNone) {
      feed_topics_.push_back(topic.name);
    }
  }

  DashboardModel model(settings_.limits);
  // The empty model holds every message before the first; one above the lowest time so that
  // "one before it" still fits.
  snapshots_.push_back(Snapshot{std::numeric_limits<std::int64_t>::min() + 1, model});
  std::vector<quorvel_bag::RecordedEvent> events;
  std::uint64_t done = 0;
  std::size_t since_snapshot = 0;
  bool want_snapshot = false;
  std::int64_t last_ns = std::numeric_limits<std::int64_t>::min();
  quorvel_bag::MessageCursor cursor = reader.messages();
  quorvel_bag::BagMessage message;
  while (cursor.next(message)) {
    if (progress && done % 4096 == 0) {
      progress(done, metadata.message_count);
    }
    ++done;
    const FeedTopic input = inputs[message.topic];
    if (input == FeedTopic::kNone) {
      quorvel_bag::check_decodes(message, reader.label());
      continue;
    }
    // A copy holds every message before its time: never split messages of the same time.
    if (want_snapshot && message.timestamp_ns > last_ns) {
      snapshots_.push_back(Snapshot{message.timestamp_ns, model});
      want_snapshot = false;
      since_snapshot = 0;
    }
    const FeedMessage decoded = decode_feed(input, message, reader.label());
    if (const auto * event = std::get_if<TaskEvent>(&decoded.message)) {
      events.push_back(quorvel_bag::RecordedEvent{message.timestamp_ns, *event});
      // Right after a start the model is small and the start is where a person looks first.
      want_snapshot = want_snapshot || event->kind == TaskEvent::TASK_STARTED;
    }
    apply(model, decoded);
    last_ns = message.timestamp_ns;
    if (++since_snapshot >= settings_.snapshot_every) {
      want_snapshot = true;
    }
  }
  if (progress) {
    progress(done, metadata.message_count);
  }
  tasks_ = quorvel_bag::tasks_from_events(std::move(events), start_ns_ + duration_ns_);
}

BagReplay::~BagReplay() = default;

const std::string & BagReplay::label() const { return reader_->label(); }

std::uint64_t BagReplay::message_count() const { return reader_->metadata().message_count; }

void BagReplay::apply_range(DashboardModel & model, std::int64_t from_ns, std::int64_t until_ns)
{
  if (from_ns >= until_ns || feed_topics_.empty()) {
    return;
  }
  quorvel_bag::MessageFilter filter;
  filter.topics = feed_topics_;
  filter.from_ns = from_ns;
  filter.until_ns = until_ns;
  quorvel_bag::MessageCursor cursor = reader_->messages(filter);
  quorvel_bag::BagMessage message;
  while (cursor.next(message)) {
    apply(
        model, decode_feed(feed_topic(message.topic->name, message.topic->type), message, label()));
  }
}

BagReplay::Position & BagReplay::position_at(std::int64_t at_ns)
{
  // The last copy that holds nothing after at_ns.
  const auto after = std::upper_bound(
      snapshots_.begin(), snapshots_.end(), at_ns, [](std::int64_t t, const Snapshot & s) {
        return t < s.before_ns - 1;
      });
  const Snapshot & snapshot = *(after - 1);

  // A recent position at or before at_ns that is further on than the copy goes on from there.
  Position * best = nullptr;
  for (Position & p : recent_) {
    if (p.at_ns <= at_ns && p.at_ns + 1 >= snapshot.before_ns &&
        (best == nullptr || p.at_ns > best->at_ns)) {
      best = &p;
    }
  }
  if (best == nullptr) {
    if (recent_.size() < std::max<std::size_t>(settings_.recent_positions, 1)) {
      recent_.push_back(Position{snapshot.before_ns - 1, snapshot.model, 0});
      best = &recent_.back();
    } else {
      best = &*std::min_element(
          recent_.begin(), recent_.end(), [](const Position & a, const Position & b) {
            return a.used < b.used;
          });
      best->at_ns = snapshot.before_ns - 1;
      best->model = snapshot.model;
    }
  }
  apply_range(best->model, best->at_ns + 1, at_ns + 1);
  best->at_ns = at_ns;
  best->used = ++uses_;
  return *best;
}

nlohmann::json BagReplay::snapshot_at(std::int64_t offset_ns, bool with_plot)
{
  offset_ns = std::clamp<std::int64_t>(offset_ns, -1, duration_ns_);
  const std::int64_t at_ns = start_ns_ + offset_ns;
  std::lock_guard<std::mutex> lock(mutex_);
  const Position & position = position_at(at_ns);
  nlohmann::json snapshot = position.model.snapshot(floor_ms(at_ns));
  if (!with_plot) {
    snapshot.erase("plot");
  }
  snapshot["replay"] = {{"at_ns", offset_ns}};
  return snapshot;
}

nlohmann::json BagReplay::info() const
{
  nlohmann::json tasks = nlohmann::json::array();
  for (std::size_t i = 0; i < tasks_.size(); ++i) {
    const quorvel_bag::TaskRecord & task = tasks_[i];
    const auto duration = task.duration_s();
    tasks.push_back({
        {"index", i},
        {"goal_id", task.goal_id},
        {"begin_ns", task.begin_ns - start_ns_},
        {"end_ns", task.end_ns - start_ns_},
        {"started_ms",
         task.start_stamp_ns ? nlohmann::json(floor_ms(*task.start_stamp_ns))
                             : nlohmann::json(nullptr)},
        {"duration_s", duration ? nlohmann::json(*duration) : nlohmann::json(nullptr)},
        {"finished", task.finished()},
        {"outcome", task.outcome},
        {"error_code",
         task.error_code ? nlohmann::json(*task.error_code) : nlohmann::json(nullptr)},
        {"error_meaning", task.error_code ? task_error_meaning(*task.error_code) : ""},
        {"steps", task.steps},
        {"given_up", task.given_up.size()},
        {"events", task.events.size()},
        {"missing_events", task.missing_events},
    });
  }
  return {
      {"mode", "replay"},
      {"bag", label()},
      {"start_ms", floor_ms(start_ns_)},
      {"duration_ns", duration_ns_},
      {"messages", message_count()},
      {"tasks", std::move(tasks)},
  };
}

std::optional<nlohmann::json> BagReplay::task_detail(std::size_t index)
{
  if (index >= tasks_.size()) {
    return std::nullopt;
  }
  const quorvel_bag::TaskRecord & task = tasks_[index];
  nlohmann::json events = nlohmann::json::array();
  for (const quorvel_bag::RecordedEvent & recorded : task.events) {
    events.push_back({
        {"at_ns", recorded.received_ns - start_ns_},
        {"seq", recorded.event.seq},
        {"kind", recorded.event.kind},
        {"summary", event_summary(recorded.event)},
    });
  }
  // The plot as it stood at the task's end; for a task the recording does not see end, just
  // before the next one begins.
  std::int64_t at_ns = task.end_ns;
  if (index + 1 < tasks_.size()) {
    at_ns = std::min(at_ns, tasks_[index + 1].begin_ns - 1);
  }
  at_ns = std::clamp(at_ns, start_ns_ - 1, start_ns_ + duration_ns_);
  nlohmann::json plot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plot = position_at(at_ns).model.section(Section::kPlot);
  }
  if (plot.value("goal_id", "") != task.goal_id) {
    plot = nullptr;
  }
  return nlohmann::json{{"index", index}, {"events", std::move(events)}, {"plot", std::move(plot)}};
}

}  // namespace quorvel_tools
