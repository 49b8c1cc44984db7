// arm_sim_expect: what a scene expects, as shell lines, or whether a run met it.
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "quorvel_arm_sim/expectation.hpp"
#include "quorvel_arm_sim/scene.hpp"
#include "scene_lookup.hpp"

namespace
{

const char kUsage[] =
    "usage: arm_sim_expect SCENE\n"
    "       arm_sim_expect SCENE --task FILE [--voice FILE] [--recover FILE] [--sim FILE]\n"
    "\n"
    "SCENE is a shipped scene's name or a scene file. The first form prints the result the\n"
    "scene expects as shell assignments (scene, file, error_code, unable_grab_trashes, voice,\n"
    "and recover_messages, picked, dropped when the scene sets them), then supervisor_args:\n"
    "the `-p name:=value` arguments of its supervisor: block, and origin_goal, origin_task\n"
    "when it names the recorded task it was derived from.\n"
    "\n"
    "The second form compares a run with it: FILE of --task is what `quorvel task` printed,\n"
    "--voice what `quorvel echo voice` printed, --recover what `quorvel echo recover` printed,\n"
    "--sim what arm_sim printed. Checks whose file is not given are not made. Prints\n"
    "\"as expected\" or what differed.\n"
    "\n"
    "exit status: 0 as expected (or the first form); 1 something differed; 2 wrong arguments,\n"
    "an unreadable file or a bad scene.\n";

struct UsageError : std::runtime_error
{
  using std::runtime_error::runtime_error;
};

std::ifstream open(const std::string & path, const std::string & option)
{
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot read " + path + " (" + option + ")");
  }
  return in;
}

int run(const std::vector<std::string> & args)
{
  if (args.empty() || args[0] == "-h" || args[0] == "--help") {
    if (args.empty()) {
      throw UsageError("which scene?");
    }
    std::cout << kUsage;
    return 0;
  }
  std::map<std::string, std::string> files;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string & option = args[i];
    if (option != "--task" && option != "--voice" && option != "--recover" && option != "--sim") {
      throw UsageError("unknown argument '" + option + "'");
    }
    if (i + 1 >= args.size()) {
      throw UsageError(option + " needs a file");
    }
    files[option] = args[i + 1];
  }
  const std::string path = quorvel_arm_sim::find_scene_file(args[0], "scene");
  const quorvel_arm_sim::Scene scene = quorvel_arm_sim::load_scene_file(path);
  if (files.empty()) {
    std::cout << "scene=" << scene.name << "\nfile=" << path << "\n"
              << quorvel_arm_sim::shell_lines(scene.expect);
    // Names and numbers only: nothing here needs quoting beyond the double quotes.
    std::string arguments;
    for (const quorvel_arm_sim::SupervisorSetting & setting : scene.supervisor) {
      arguments += (arguments.empty() ? "" : " ") + std::string("-p ") + setting.argument();
    }
    std::cout << "supervisor_args=\"" << arguments << "\"\n";
    if (scene.origin && !scene.origin->goal.empty()) {
      std::cout << "origin_goal=" << scene.origin->goal << "\n";
    }
    if (scene.origin && scene.origin->task) {
      std::cout << "origin_task=" << *scene.origin->task << "\n";
    }
    return 0;
  }
  if (files.count("--task") == 0) {
    throw UsageError("comparing a run needs --task");
  }
  quorvel_arm_sim::Observed observed;
  {
    std::ifstream in = open(files["--task"], "--task");
    observed.task = quorvel_arm_sim::read_task_output(in);
  }
  if (files.count("--voice")) {
    std::ifstream in = open(files["--voice"], "--voice");
    observed.voice = quorvel_arm_sim::read_voice_codes(in);
  }
  if (files.count("--recover")) {
    std::ifstream in = open(files["--recover"], "--recover");
    observed.recover_messages = quorvel_arm_sim::count_recover_messages(in);
  }
  if (files.count("--sim")) {
    std::ifstream in = open(files["--sim"], "--sim");
    observed.items = quorvel_arm_sim::count_item_events(in);
  }
  const std::vector<std::string> found = quorvel_arm_sim::differences(scene.expect, observed);
  if (found.empty()) {
    std::cout << "scene '" << scene.name << "': as expected (error_code " << scene.expect.error_code
              << ", unable_grab_trashes " << scene.expect.unable_grab_trashes << ")" << std::endl;
    return 0;
  }
  std::cout << "scene '" << scene.name << "': not as expected" << std::endl;
  for (const std::string & line : found) {
    std::cout << "  " << line << std::endl;
  }
  return 1;
}

}  // namespace

int main(int argc, char ** argv)
{
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError & error) {
    std::cerr << "arm_sim_expect: " << error.what() << "\n\n" << kUsage;
  } catch (const std::exception & error) {
    std::cerr << "arm_sim_expect: " << error.what() << std::endl;
  }
  return 2;
}
