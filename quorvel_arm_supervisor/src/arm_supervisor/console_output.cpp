#include "console_output.hpp"

#include <iostream>
#include <locale>
#include <sstream>

#include "quorvel_arm_supervisor/arm_logger.hpp"

namespace quorvel_arm_supervisor
{

std::string JoinValues(std::initializer_list<double> values, const char * separator)
{
  std::ostringstream out;
  out.imbue(std::locale::classic());
  const char * between = "";
  for (const double value : values) {
    out << between << value;
    between = separator;
  }
  return out.str();
}

void PrintColouredLine(const char * colour, std::string_view text)
{
  std::string line;
  line.reserve(text.size() + 16);
  line.append(colour).append(text).append(COLOR_RESET).append("\n");
  std::cout << line << std::flush;
}

void PrintPlainLine(std::string_view text)
{
  std::string line(text);
  line.append("\n");
  std::cout << line << std::flush;
}

}  // namespace quorvel_arm_supervisor
