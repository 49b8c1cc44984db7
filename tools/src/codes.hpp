// What the numbers on the supervisor's outputs mean to a person at the desk.
#ifndef QUORVEL_TOOLS__CODES_HPP_
#define QUORVEL_TOOLS__CODES_HPP_

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel_tools
{

// Meaning of an ArmTask result's error_code, or "" when the code is not one the supervisor
// reports.
std::string task_error_meaning(std::int32_t code);

// Meaning of a code on /arm/voice_broadcast, or "" for a code without a fixed meaning (the
// supervisor passes such statuses through unchanged).
std::string voice_code_meaning(std::int32_t code);

// "open" for [100, 0], "close" for [100, 1], "" for anything else on /robot/ctrl_io_topic.
std::string gripper_command_meaning(const std::vector<std::int32_t> & data);

// "<code> (<meaning>)", or just the code when the meaning is "".
std::string with_meaning(std::int64_t code, const std::string & meaning);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__CODES_HPP_
