// A sign of life during a long wait.
#ifndef QUORVEL_TOOLS__PROGRESS_HPP_
#define QUORVEL_TOOLS__PROGRESS_HPP_

#include <chrono>
#include <ostream>
#include <string>

namespace quorvel_tools
{

// On a terminal: one line, rewritten in place, with a spinner and the seconds waited.
// Elsewhere (a pipe, a log file): one plain line every `plain_period`, so logs stay readable.
// Call update() often; call clear() before writing any other line to the same stream.
// Main thread only.
class Progress
{
public:
  Progress(
      std::ostream & out,
      bool terminal,
      std::chrono::steady_clock::duration plain_period = std::chrono::seconds(5));

  // Shows "<what>: <seconds> s<detail>" if it is time to; `what` may change between calls.
  void update(const std::string & what, const std::string & detail = "");

  // Restarts the elapsed time (a new wait begins).
  void restart();

  // Removes the in-place line, if one is shown.
  void clear();

  // True when standard output is a terminal.
  static bool stdout_is_terminal();

private:
  std::ostream & out_;
  const bool terminal_;
  const std::chrono::steady_clock::duration plain_period_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool drawn_ = false;
  unsigned frame_ = 0;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__PROGRESS_HPP_
