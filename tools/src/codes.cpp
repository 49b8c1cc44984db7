#include "codes.hpp"

namespace quorvel_tools
{

std::string task_error_meaning(std::int32_t code)
{
  switch (code) {
    case 102300000:
      return "initial value, no error";
    case 102300001:
      return "detection answer late";
    case 102300002:
      return "nothing to grab";
    case 102300003:
      return "recovery succeeded";
    case 102300005:
      return "arm status abnormal";
    default:
      return "";
  }
}

std::string voice_code_meaning(std::int32_t code)
{
  switch (code) {
    case 1:
      return "common failure";
    case 2:
      return "arm controller failure code";
    case 3:
      return "failure family 1020xxxxx";
    case 4:
      return "environment stop";
    case 102100000:
      return "arm controller success";
    default:
      return "";
  }
}

std::string gripper_command_meaning(const std::vector<std::int32_t> & data)
{
  if (data.size() == 2 && data[0] == 100) {
    if (data[1] == 0) {
      return "open";
    }
    if (data[1] == 1) {
      return "close";
    }
  }
  return "";
}

std::string with_meaning(std::int64_t code, const std::string & meaning)
{
  std::string text = std::to_string(code);
  if (!meaning.empty()) {
    text += " (" + meaning + ")";
  }
  return text;
}

}  // namespace quorvel_tools
