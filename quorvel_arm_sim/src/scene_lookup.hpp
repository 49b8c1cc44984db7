// Finding the file a `scene` argument names.
#ifndef QUORVEL_ARM_SIM__SCENE_LOOKUP_HPP_
#define QUORVEL_ARM_SIM__SCENE_LOOKUP_HPP_

#include <string>

namespace quorvel_arm_sim
{

// The file of `scene`: itself when it names a file, else the shipped scene of that name in this
// package's share directory (found through the ament index). Throws std::invalid_argument,
// starting with `what` (e.g. "parameter 'scene'"), when no such scene is shipped, listing the
// shipped ones.
std::string find_scene_file(const std::string & scene, const std::string & what);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__SCENE_LOOKUP_HPP_
