// A recorded bag played into the dashboard's model: the state the live page would have shown at
// any moment of the recording, found quickly by starting from the nearest kept copy of the
// model instead of from the bag's first message.
#ifndef QUORVEL_TOOLS__DASHBOARD__REPLAY_HPP_
#define QUORVEL_TOOLS__DASHBOARD__REPLAY_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dashboard/model.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"

namespace quorvel_tools
{

struct ReplaySettings
{
  // A copy of the model is kept at each task's start and after this many messages of the
  // dashboard's topics: a look at any moment decodes at most this many.
  std::size_t snapshot_every = 2000;
  // Recently shown moments kept, so that playing goes on from where the last look ended.
  std::size_t recent_positions = 8;
  ModelLimits limits;
};

// Called during the first reading with the messages read so far and the bag's total.
using ReplayProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Times given to and returned by this class are ns after the bag's first message (its
// "offset"), which a page's numbers carry exactly; the tasks' own fields stay in ns since the
// epoch. Every method may be called from any thread; looks are served one at a time.
class BagReplay
{
public:
  // Reads the whole bag once: checks it as `quorvel bag info` does (every message of a known
  // type must decode), finds its tasks, and keeps the model's copies. Throws BagError naming
  // the bag and the fault.
  explicit BagReplay(
      const std::filesystem::path & bag,
      const ReplayProgress & progress = {},
      ReplaySettings settings = ReplaySettings{});
  ~BagReplay();

  BagReplay(const BagReplay &) = delete;
  BagReplay & operator=(const BagReplay &) = delete;

  const std::string & label() const;
  // ns since the epoch of the first message (0 for an empty bag), and the bag's length.
  std::int64_t start_ns() const { return start_ns_; }
  std::int64_t duration_ns() const { return duration_ns_; }
  std::uint64_t message_count() const;
  const std::vector<quorvel_bag::TaskRecord> & tasks() const { return tasks_; }
  std::size_t snapshot_count() const { return snapshots_.size(); }

  // The model's JSON snapshot (as GET /api/state) after every message received up to
  // `offset_ns` inclusive, its "now" that moment. Without `with_plot`, the "plot" section is
  // left out (a page that plays a task has the task's whole plot already).
  nlohmann::json snapshot_at(std::int64_t offset_ns, bool with_plot = true);

  // The bag and its tasks for the page: name, start, length, and per task its goal, times
  // (offsets), outcome, error code, steps and given-up count.
  nlohmann::json info() const;

  // One task for the page: its events (offset of reception, seq, kind, summary) and its whole
  // joint plot (the "plot" section as it stood when the task ended). nullopt for no such task.
  std::optional<nlohmann::json> task_detail(std::size_t index);

private:
  struct Snapshot
  {
    std::int64_t before_ns;  // holds every message received before this time
    DashboardModel model;
  };
  struct Position
  {
    std::int64_t at_ns;  // holds every message received up to this time
    DashboardModel model;
    std::uint64_t used = 0;
  };

  // Applies to `model` the dashboard's messages received in [from_ns, until_ns).
  void apply_range(DashboardModel & model, std::int64_t from_ns, std::int64_t until_ns);
  // The model at `at_ns` (ns since the epoch); the caller holds mutex_.
  Position & position_at(std::int64_t at_ns);

  const ReplaySettings settings_;
  std::unique_ptr<quorvel_bag::BagReader> reader_;
  std::int64_t start_ns_ = 0;
  std::int64_t duration_ns_ = 0;
  std::vector<std::string> feed_topics_;
  std::vector<quorvel_bag::TaskRecord> tasks_;
  std::vector<Snapshot> snapshots_;  // by before_ns, ascending

  std::mutex mutex_;
  std::vector<Position> recent_;
  std::uint64_t uses_ = 0;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__REPLAY_HPP_
