// arm_sim_scene (quorvel scene): an arm_sim scene that plays a recorded task again.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "quorvel_arm_sim/scene.hpp"
#include "quorvel_arm_sim/scene_from_bag.hpp"
#include "quorvel_arm_sim/scene_writer.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"

namespace
{

const char kUsage[] =
    "usage: quorvel scene --from BAG [--task N | --goal ID] [-o FILE] [--partial]\n"
    "\n"
    "Writes an arm_sim scene that plays one recorded task again: its items, the answers that\n"
    "were not a success, the arm's abnormal episodes, the positions not reached, the joint\n"
    "feedback cut short, the environment stops, the detection latencies, the supervisor's\n"
    "settings the recording shows (a supervisor: block) and what the task ended with. Each\n"
    "derived line names in a comment the recorded event or message it comes from.\n"
    "\n"
    "  --from BAG   the bag (quorvel record, ros2 bag record)\n"
    "  --task N     the task's place among the bag's tasks, from 1, as quorvel bag info lists\n"
    "               them (default: the last task that ended)\n"
    "  --goal ID    the task of that goal id (or a unique beginning of it)\n"
    "  -o FILE      write the scene into FILE, a new file (default: standard output)\n"
    "  --partial    write the scene even when the task holds what a scene cannot play (a\n"
    "               cancel, a motion never answered, a recording without the task's start...);\n"
    "               those are named in its comments\n"
    "\n"
    "Replay it with scripts/demo --scene FILE --record DIR --compare BAG, or arm_sim with\n"
    "-p scene:=FILE beside the supervisor with the scene's supervisor: settings.\n"
    "\n"
    "exit status: 0 written; 1 the bag cannot be read, holds no such task, or the task holds\n"
    "what a scene cannot play (without --partial: nothing written); 2 wrong arguments.\n";

struct UsageError : std::runtime_error
{
  using std::runtime_error::runtime_error;
};

struct Options
{
  bool help = false;
  std::string bag;
  std::optional<std::size_t> task;
  std::string goal;
  std::string output;
  bool partial = false;
};

std::size_t task_number(const std::string & text)
{
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used);
  } catch (const std::exception &) {
    used = 0;
  }
  if (used != text.size() || value == 0 || text[0] == '-' || text[0] == '+') {
    throw UsageError("--task needs a task number from 1, got '" + text + "'");
  }
  return static_cast<std::size_t>(value);
}

Options parse(const std::vector<std::string> & args)
{
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
      value = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto take = [&]() {
      if (value) {
        return *value;
      }
      if (i + 1 >= args.size()) {
        throw UsageError(name + " needs a value");
      }
      return args[++i];
    };
    if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (name == "--from") {
      options.bag = take();
    } else if (name == "--task") {
      options.task = task_number(take());
    } else if (name == "--goal") {
      options.goal = take();
    } else if (name == "-o" || name == "--output") {
      options.output = take();
    } else if (name == "--partial") {
      options.partial = true;
    } else {
      throw UsageError("unknown argument '" + args[i] + "'");
    }
  }
  if (options.help) {
    return options;
  }
  if (options.bag.empty()) {
    throw UsageError("which bag? give --from BAG");
  }
  if (options.task && !options.goal.empty()) {
    throw UsageError("give --task or --goal, not both");
  }
  if (options.output == "-") {
    options.output.clear();
  }
  return options;
}

// Writes `text` into a new file, whole or not at all.
void write_new_file(const std::string & path, const std::string & text)
{
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    throw std::runtime_error(path + " already exists: give -o a new file (nothing is overwritten)");
  }
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
    out << text;
    out.flush();
    if (!out) {
      const std::string why = std::strerror(errno);
      out.close();
      std::remove(temporary.c_str());
      throw std::runtime_error("cannot write " + path + ": " + why);
    }
  }
  // link() fails instead of replacing a file that appeared meanwhile.
  if (::link(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write " + path + ": " + why);
  }
  std::remove(temporary.c_str());
}

int run(const Options & options, const std::string & program)
{
  quorvel_bag::BagReader reader(options.bag);
  reader.check_counts();
  const std::vector<quorvel_bag::TaskRecord> tasks = quorvel_bag::find_tasks(reader);
  const std::size_t index =
      quorvel_bag::select_task(tasks, reader.label(), options.task, options.goal);
  const quorvel_bag::TaskRecord & task = tasks[index];
  // The arm's messages of the task, and a little before it: where the arm stood, whether it
  // was abnormal when the task began.
  constexpr std::int64_t kBefore = 10LL * 1000000000;
  constexpr std::int64_t kAfter = 2LL * 1000000000;
  const quorvel_arm_sim::ArmRecording arm =
      quorvel_arm_sim::read_arm_recording(reader, task.begin_ns - kBefore, task.end_ns + kAfter);
  quorvel_arm_sim::TaskSource source;
  source.bag = reader.label();
  source.number = index + 1;
  source.count = tasks.size();
  const quorvel_arm_sim::DerivedScene derived = quorvel_arm_sim::derive_scene(task, arm, source);
  const std::string where =
      "task " + std::to_string(index + 1) + " of bag '" + reader.label() + "' (goal " +
      task.goal_id + ")";
  if (!derived.problems.empty() && !options.partial) {
    std::cerr << program << ": " << where << " holds what a scene cannot play:\n";
    for (const std::string & problem : derived.problems) {
      std::cerr << "  - " << problem << "\n";
    }
    std::cerr << program << ": nothing written; give --partial to write the scene without "
              << (derived.problems.size() == 1 ? "it" : "them") << " (named in its comments)"
              << std::endl;
    return 1;
  }
  const std::string text = quorvel_arm_sim::write_scene(derived.scene, derived.notes, derived.header);
  // What is written must load in arm_sim as it is.
  quorvel_arm_sim::parse_scene(text, options.output.empty() ? "the derived scene" : options.output);
  if (options.output.empty()) {
    std::cout << text << std::flush;
  } else {
    write_new_file(options.output, text);
  }
  const quorvel_arm_sim::Scene & scene = derived.scene;
  std::cerr << program << ": " << (options.output.empty() ? "wrote" : "wrote " + options.output)
            << " from " << where << ": " << scene.items.size() << " item(s), "
            << scene.faults.size() << " fault(s), " << scene.supervisor.size()
            << " supervisor setting(s); expects error_code " << scene.expect.error_code << ", "
            << scene.expect.unable_grab_trashes << " given up";
  if (!derived.problems.empty()) {
    std::cerr << "; " << derived.problems.size() << " thing(s) not played (see its comments)";
  }
  std::cerr << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  // Run by quorvel as "quorvel scene": its messages carry that name.
  std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "";
  if (program.empty()) {
    program = "arm_sim_scene";
  }
  Options options;
  try {
    options = parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError & error) {
    std::cerr << program << ": " << error.what() << "\n\n" << kUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  try {
    return run(options, program);
  } catch (const quorvel_bag::BagError & error) {
    std::cerr << program << ": " << error.what() << std::endl;
  } catch (const quorvel_arm_sim::SceneError & error) {
    std::cerr << program << ": the derived scene does not load (a fault of this tool): "
              << error.what() << std::endl;
  } catch (const std::exception & error) {
    std::cerr << program << ": " << error.what() << std::endl;
  }
  return 1;
}
