// The dashboard's state shared between the ROS thread, which feeds it, and the HTTP threads,
// which read it and stream its changes to pages. One small mutex; readers copy out.
#ifndef QUORVEL_TOOLS__DASHBOARD__HUB_HPP_
#define QUORVEL_TOOLS__DASHBOARD__HUB_HPP_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "dashboard/model.hpp"

namespace quorvel_tools
{

// Wall-clock milliseconds since the epoch, the time base of the task events' stamps.
std::int64_t wall_ms();

// Where one stream stands: what its page has, and when it may next get the frequent sections.
struct StreamPosition
{
  StreamCursor cursor;
  std::chrono::steady_clock::time_point frequent_due{};
};

class DashboardHub
{
public:
  // `frequent_period`: how often at most a stream sends the arm and the surroundings, which
  // their topics may change a hundred times a second.
  explicit DashboardHub(
      std::size_t max_streams = 16,
      std::chrono::milliseconds frequent_period = std::chrono::milliseconds(100));

  // Applies `change` to the model under the lock and wakes the streams. Any thread.
  template <typename ChangeT>
  void update(ChangeT && change)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::forward<ChangeT>(change)(model_);
    }
    changed_.notify_all();
  }

  // Runs `look` on the model under the lock, without waking the streams. Any thread.
  template <typename LookT>
  void read(LookT && look) const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::forward<LookT>(look)(model_);
  }

  // The whole state as JSON text. Any thread.
  std::string snapshot_text() const;

  // A stream slot, or false when `max_streams` are open. Pair with close_stream().
  bool open_stream();
  void close_stream();

  // Blocks until the page behind `position` lacks something, `keepalive` has passed or stop()
  // was called. Then gives in `text` the server-sent events that bring the page up to date
  // (or a "ping" event when the keepalive time passed) and returns true; returns false once
  // stopped. HTTP threads.
  bool next_stream_text(
      StreamPosition & position, std::string & text, std::chrono::milliseconds keepalive);

  // Ends every stream wait, now and later. Any thread.
  void stop();

private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  DashboardModel model_;
  bool stopped_ = false;
  std::size_t open_streams_ = 0;
  const std::size_t max_streams_;
  const std::chrono::milliseconds frequent_period_;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__HUB_HPP_
