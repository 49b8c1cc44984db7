#include "scene_lookup.hpp"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <ament_index_cpp/get_package_share_directory.hpp>

#include "quorvel_arm_sim/scene.hpp"

namespace quorvel_arm_sim
{

namespace
{

std::string shipped_scenes(const std::string & share_dir)
{
  std::vector<std::string> names;
  std::error_code error;
  for (const auto & entry : std::filesystem::directory_iterator(share_dir + "/scenes", error)) {
    if (entry.path().extension() == ".yaml") {
      names.push_back(entry.path().stem().string());
    }
  }
  std::sort(names.begin(), names.end());
  std::string list;
  for (const auto & name : names) {
    list += (list.empty() ? "" : ", ") + name;
  }
  return list.empty() ? "none" : list;
}

}  // namespace

std::string find_scene_file(const std::string & scene, const std::string & what)
{
  if (names_scene_file(scene)) {
    return scene;
  }
  std::string share_dir;
  try {
    share_dir = ament_index_cpp::get_package_share_directory("quorvel_arm_sim");
  } catch (const std::exception & error) {
    throw std::invalid_argument(
        what + ": cannot look up the shipped scene '" + scene + "' (" + error.what() +
        "); source the workspace's install/setup.bash or give a file path");
  }
  const std::string path = scene_path(scene, share_dir);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw std::invalid_argument(
        what + ": no shipped scene '" + scene + "' (shipped: " + shipped_scenes(share_dir) +
        "); a file path must contain a '/' or end in .yaml");
  }
  return path;
}

}  // namespace quorvel_arm_sim
