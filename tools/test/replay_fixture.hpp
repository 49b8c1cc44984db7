// A desk's traffic made up for the replay's tests and benchmark: the supervisor's task events
// and the arm's topics, as a recorder receives them, for any number of tasks.
#ifndef QUORVEL_TOOLS__TEST__REPLAY_FIXTURE_HPP_
#define QUORVEL_TOOLS__TEST__REPLAY_FIXTURE_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dashboard/feed.hpp"

namespace replay_fixture
{

struct Received
{
  std::string topic;
  std::int64_t received_ns = 0;
  quorvel_tools::FeedMessage message;  // received_ms set from received_ns
};

// `tasks` tasks one after another from `start_ns`: each detects one or two trashes, grabs,
// releases and goes back to observe; every third grab fails and is recovered (the arm abnormal
// for a second, a move to a recovery position). Joint angles at 50 Hz while moving, 10 Hz at
// rest; the arm state and the objects around at 10 Hz. In receive order.
std::vector<Received> desk_traffic(std::size_t tasks, std::int64_t start_ns);

// Writes them into a new bag at `dir` (each message serialized as it travelled).
void write_bag(const std::filesystem::path & dir, const std::vector<Received> & traffic);

}  // namespace replay_fixture

#endif  // QUORVEL_TOOLS__TEST__REPLAY_FIXTURE_HPP_
