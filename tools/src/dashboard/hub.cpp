#include "dashboard/hub.hpp"

#include <algorithm>
#include <vector>

namespace quorvel_tools
{

std::int64_t wall_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

DashboardHub::DashboardHub(std::size_t max_streams, std::chrono::milliseconds frequent_period)
    : max_streams_(max_streams), frequent_period_(frequent_period)
{
}

std::string DashboardHub::snapshot_text() const
{
  nlohmann::json snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = model_.snapshot(wall_ms());
  }
  return json_text(snapshot);
}

bool DashboardHub::open_stream()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_ || open_streams_ >= max_streams_) {
    return false;
  }
  ++open_streams_;
  return true;
}

void DashboardHub::close_stream()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_streams_ > 0) {
    --open_streams_;
  }
}

bool DashboardHub::next_stream_text(
    StreamPosition & position, std::string & text, std::chrono::milliseconds keepalive)
{
  using Clock = std::chrono::steady_clock;
  std::vector<StreamMessage> messages;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = Clock::now() + keepalive;
    for (;;) {
      if (stopped_) {
        return false;
      }
      const auto now = Clock::now();
      const bool frequent_due = now >= position.frequent_due;
      if (model_.has_changes(position.cursor, !frequent_due)) {
        messages = model_.changes_since(position.cursor, frequent_due, wall_ms());
        if (frequent_due) {
          position.frequent_due = now + frequent_period_;
        }
        break;
      }
      if (now >= deadline) {
        text = "event: ping\ndata: {}\n\n";
        return true;
      }
      auto wake = deadline;
      if (!frequent_due && model_.has_changes(position.cursor, false)) {
        wake = std::min(wake, position.frequent_due);
      }
      changed_.wait_until(lock, wake);
    }
  }
  text.clear();
  for (const StreamMessage & message : messages) {
    text += "event: " + message.event + "\ndata: " + json_text(message.data) + "\n\n";
  }
  return true;
}

void DashboardHub::stop()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace quorvel_tools
