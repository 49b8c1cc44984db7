// quorvel scene: the scene format and its derivation from a bag live with the simulator
// (quorvel_arm_sim builds on this package, not the other way round), so this command runs the
// simulator package's program, found where ament finds the package.
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include <ament_index_cpp/get_package_prefix.hpp>

#include "commands.hpp"

namespace quorvel_tools
{

ExitCode run_scene(const std::vector<std::string> & args)
{
  std::string prefix;
  try {
    prefix = ament_index_cpp::get_package_prefix("quorvel_arm_sim");
  } catch (const std::exception &) {
    std::cerr << "quorvel scene: needs arm_sim_scene of the quorvel_arm_sim package, which is not "
                 "installed where AMENT_PREFIX_PATH looks: build it (scripts/setup) and source "
                 "install/setup.bash"
              << std::endl;
    return ExitCode::kFailure;
  }
  const std::filesystem::path program =
      std::filesystem::path(prefix) / "lib" / "quorvel_arm_sim" / "arm_sim_scene";
  if (::access(program.c_str(), X_OK) != 0) {
    std::cerr << "quorvel scene: " << program.string()
              << " is missing: quorvel_arm_sim is installed without it; rebuild it (scripts/setup)"
              << std::endl;
    return ExitCode::kFailure;
  }
  // Its messages then say "quorvel scene", the command the user typed.
  std::vector<std::string> words{"quorvel scene"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string & word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  std::cerr << "quorvel scene: cannot run " << program.string() << ": " << std::strerror(errno)
            << std::endl;
  return ExitCode::kFailure;
}

}  // namespace quorvel_tools
