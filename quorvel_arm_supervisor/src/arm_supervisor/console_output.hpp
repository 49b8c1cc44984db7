// Direct console lines of the supervisor (beside the ROS log and the numbered task log).
#ifndef ARM_SUPERVISOR__CONSOLE_OUTPUT_HPP_
#define ARM_SUPERVISOR__CONSOLE_OUTPUT_HPP_

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvel_arm_supervisor
{

// Values as the default std::ostream formats them (0.1, 2, 1e-05), separated by two blanks
// or by `separator`.
std::string JoinValues(std::initializer_list<double> values, const char * separator = "  ");

// Writes colour, text, COLOR_RESET and an end of line to standard output and flushes. The line
// goes out in one write, so lines of different threads never mix.
void PrintColouredLine(const char * colour, std::string_view text);

// The same without colour.
void PrintPlainLine(std::string_view text);

}  // namespace quorvel_arm_supervisor

#endif  // ARM_SUPERVISOR__CONSOLE_OUTPUT_HPP_
