#include "progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <iomanip>
#include <sstream>

namespace quorvel_tools
{

namespace
{
constexpr char kSpinner[] = {'|', '/', '-', '\\'};
constexpr auto kTerminalPeriod = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(
    std::ostream & out, bool terminal, std::chrono::steady_clock::duration plain_period)
    : out_(out),
      terminal_(terminal),
      plain_period_(plain_period),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_)
{
}

void Progress::update(const std::string & what, const std::string & detail)
{
  const auto now = std::chrono::steady_clock::now();
  const auto period =
      terminal_ ? std::chrono::steady_clock::duration(kTerminalPeriod) : plain_period_;
  if (now - last_draw_ < period) {
    return;
  }
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::ostringstream line;
  line << what << ": " << std::fixed << std::setprecision(terminal_ ? 1 : 0) << seconds << " s"
       << detail;
  if (terminal_) {
    out_ << "\r\033[K" << kSpinner[frame_++ % sizeof(kSpinner)] << ' ' << line.str() << std::flush;
    drawn_ = true;
  } else {
    out_ << line.str() << std::endl;
  }
}

void Progress::restart()
{
  clear();
  start_ = std::chrono::steady_clock::now();
  last_draw_ = start_;
}

void Progress::clear()
{
  if (drawn_) {
    out_ << "\r\033[K" << std::flush;
    drawn_ = false;
  }
}

bool Progress::stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace quorvel_tools
