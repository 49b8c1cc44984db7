// quorvel bag compare: two recorded tasks step by step, e.g. a task of the robot and its replay
// on a desk.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "codes.hpp"
#include "commands.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/steps.hpp"
#include "quorvel_bag/tasks.hpp"

namespace quorvel_tools
{

namespace
{

// Steps shown before the one where the tasks part, and after it.
constexpr std::size_t kContextBefore = 3;
constexpr std::size_t kContextAfter = 2;
constexpr std::size_t kColumnWidth = 64;

struct Side
{
  std::string label;  // "A" or "B"
  std::string bag;
  std::size_t number = 0;
  quorvel_bag::TaskRecord task;
  std::vector<quorvel_bag::Step> steps;
};

Side load(
    const std::string & label,
    const std::string & directory,
    std::optional<std::size_t> number,
    const std::string & goal)
{
  const quorvel_bag::BagReader reader(directory);
  std::vector<quorvel_bag::TaskRecord> tasks = quorvel_bag::find_tasks(reader);
  const std::size_t index = quorvel_bag::select_task(tasks, reader.label(), number, goal);
  Side side;
  side.label = label;
  side.bag = reader.label();
  side.number = index + 1;
  side.task = std::move(tasks[index]);
  side.steps = quorvel_bag::task_steps(side.task);
  return side;
}

std::string summary(const Side & side)
{
  const quorvel_bag::TaskRecord & task = side.task;
  std::ostringstream text;
  text << side.label << ": task " << side.number << " of " << side.bag << " (goal "
       << task.goal_id.substr(0, 8) << "): ";
  if (task.finished()) {
    text << task.outcome;
    if (task.error_code) {
      text << ", error_code " << with_meaning(*task.error_code, task_error_meaning(*task.error_code));
    }
    text << ", " << task.given_up.size() << " given up";
  } else {
    text << "unfinished";
  }
  text << ", " << side.steps.size() << " steps";
  return text.str();
}

std::string cell(const std::vector<quorvel_bag::Step> & steps, std::size_t i)
{
  if (i >= steps.size()) {
    return "(no more steps)";
  }
  std::string text = "#" + std::to_string(steps[i].seq) + " " + quorvel_bag::describe_step(steps[i]);
  if (text.size() > kColumnWidth) {
    text = text.substr(0, kColumnWidth - 3) + "...";
  }
  return text;
}

std::string join(const std::vector<std::string> & words)
{
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : (i + 1 == words.size() ? " and " : ", ")) + words[i];
  }
  return text;
}

}  // namespace

ExitCode run_bag_compare(const BagOptions & options)
{
  Side a;
  Side b;
  try {
    a = load("A", options.directory, options.task, options.goal);
    b = load("B", options.other_directory, options.other_task, "");
  } catch (const quorvel_bag::BagError & error) {
    std::cerr << "quorvel bag compare: " << error.what() << std::endl;
    return ExitCode::kUsage;
  }
  std::cout << summary(a) << "\n" << summary(b) << "\n";
  const auto parting = quorvel_bag::first_parting(a.steps, b.steps);
  if (!parting) {
    std::cout << "same " << a.steps.size() << " steps" << std::endl;
    return ExitCode::kOk;
  }
  const std::size_t at = *parting;
  std::string why;
  if (at >= a.steps.size() || at >= b.steps.size()) {
    why = (at >= a.steps.size() ? "A" : "B") + std::string(" ends there");
  } else {
    why = "they differ in " + join(quorvel_bag::step_differences(a.steps[at], b.steps[at]));
  }
  if (const auto timing = quorvel_bag::timing_difference(a.steps, b.steps, at)) {
    why = "a timing difference: " + timing->what +
          (timing->same_after ? "; past it the same steps to the end" : "");
  }
  std::cout << "the tasks part at step " << at + 1 << " of " << a.steps.size() << " (A) and "
            << b.steps.size() << " (B): " << why << "\n";
  const std::size_t first = at > kContextBefore ? at - kContextBefore : 0;
  const std::size_t last = std::min(std::max(a.steps.size(), b.steps.size()), at + kContextAfter + 1);
  std::string header = "  step  A";
  header.resize(8 + kColumnWidth + 2, ' ');
  std::cout << header << "B\n";
  for (std::size_t i = first; i < last; ++i) {
    std::string number = std::to_string(i + 1);
    std::string line = (i == at ? "> " : "  ") + std::string(4 - std::min<std::size_t>(4, number.size()), ' ') + number + "  " + cell(a.steps, i);
    line.resize(std::max(line.size() + 2, 8 + kColumnWidth + 2), ' ');
    std::cout << line << cell(b.steps, i) << "\n";
  }
  std::cout << std::flush;
  return ExitCode::kFailure;
}

}  // namespace quorvel_tools
