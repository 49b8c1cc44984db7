// Comparing what a task run produced with what its scene expects.
#ifndef QUORVEL_ARM_SIM__EXPECTATION_HPP_
#define QUORVEL_ARM_SIM__EXPECTATION_HPP_

#include <cstdint>
#include <istream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quorvel_arm_sim/scene.hpp"

namespace quorvel_arm_sim
{

// What `quorvel task` printed: "result: succeeded", "error_code: 102300000 (...)",
// "unable_grab_trashes: 1". Missing lines stay empty.
struct TaskOutput
{
  std::optional<std::string> result;
  std::optional<std::int32_t> error_code;
  std::optional<std::size_t> unable_grab_trashes;
};
TaskOutput read_task_output(std::istream & in);

// The codes `quorvel echo voice` printed ("voice: 4 (environment stop)").
std::set<std::int32_t> read_voice_codes(std::istream & in);
// How many messages `quorvel echo recover` printed ("recover: false").
int count_recover_messages(std::istream & in);

// Items picked and dropped according to arm_sim's event lines.
struct ItemCounts
{
  int picked = 0;
  int dropped = 0;
};
ItemCounts count_item_events(std::istream & in);

// The observations of one run; a check whose observation is missing is not made.
struct Observed
{
  TaskOutput task;
  std::optional<std::set<std::int32_t>> voice;
  std::optional<int> recover_messages;
  std::optional<ItemCounts> items;
};

// One line per difference ("error_code: got 102300003, expected 102300000"); empty when the run
// is as expected. A task that did not succeed, or whose result lines are missing, differs.
std::vector<std::string> differences(const Expectation & expect, const Observed & observed);

// The expectation as shell assignments, one per line: error_code=..., unable_grab_trashes=...,
// voice="4 1", and recover_messages, picked, dropped when the scene sets them.
std::string shell_lines(const Expectation & expect);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__EXPECTATION_HPP_
