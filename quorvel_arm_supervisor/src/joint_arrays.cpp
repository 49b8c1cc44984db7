#include "quorvel_arm_supervisor/joint_arrays.hpp"

#include <cstddef>
#include <locale>
#include <sstream>

namespace quorvel_arm_supervisor
{

namespace
{

std::string format_values(
  std::string_view name, const std::vector<double> & values, std::string_view separator,
  bool separator_after_last)
{
  std::ostringstream line;
  // A locale set by some other part of the process must not put digit groups into log lines.
  line.imbue(std::locale::classic());
  line << name << ": [";
  for (std::size_t i = 0; i < values.size(); ++i) {
    line << values[i];
    if (separator_after_last || i + 1 < values.size()) {
      line << separator;
    }
  }
  line << ']';
  return line.str();
}

}  // namespace

std::string format_joint_array(std::string_view name, const std::vector<double> & values)
{
  return format_values(name, values, " ", true);
}

std::string format_joint_list(std::string_view name, const std::vector<double> & values)
{
  return format_values(name, values, ", ", false);
}

std::optional<std_msgs::msg::Float64MultiArray> make_recovery_target(
  const std_msgs::msg::Float64MultiArray & configured, std::uint32_t joint_num)
{
  if (configured.data.size() < joint_num) {
    return std::nullopt;
  }
  std_msgs::msg::Float64MultiArray target;
  const auto first = configured.data.begin();
  target.data.assign(first, first + static_cast<std::ptrdiff_t>(joint_num));
  return target;
}

}  // namespace quorvel_arm_supervisor
