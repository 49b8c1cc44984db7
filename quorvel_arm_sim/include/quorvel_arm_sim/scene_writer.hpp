// Writing a scene as a scene file, each line with a comment saying where its values come from.
#ifndef QUORVEL_ARM_SIM__SCENE_WRITER_HPP_
#define QUORVEL_ARM_SIM__SCENE_WRITER_HPP_

#include <map>
#include <string>
#include <vector>

#include "quorvel_arm_sim/scene.hpp"

namespace quorvel_arm_sim
{

// Comments for the lines of a written scene, by the key the line holds: "description",
// "origin", "supervisor.<parameter>", "arm.joint_speed", "arm.start_joints", "detect_latency",
// "table.items" (the list's own line), "table.items[<i>]", "faults[<i>]", "expect.<key>".
using SceneNotes = std::map<std::string, std::string>;

// The scene as the text of a scene file: the `header` lines first, each as a comment, then the
// keys in the order the README describes them, one item and one fault per line, each line
// followed by its note. Numbers are written with the fewest digits that read back as the same
// double, so that parse_scene() of the text gives back exactly this scene (its name and file
// aside, which come from where the text is stored).
std::string write_scene(
    const Scene & scene,
    const SceneNotes & notes = {},
    const std::vector<std::string> & header = {});

// The fewest decimal digits that read back as `value` ("0.35", "1e-05", "-0.5236").
std::string number_text(double value);

// The double that `value`, a float, was written as: 1.2f gives 1.2, not 1.2000000476837158.
double float_as_written(float value);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__SCENE_WRITER_HPP_
