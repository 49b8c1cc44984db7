// One command's connection to the ROS graph: the client library, one node, and Ctrl-C.
#ifndef QUORVEL_TOOLS__SESSION_HPP_
#define QUORVEL_TOOLS__SESSION_HPP_

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include <rclcpp/rclcpp.hpp>

namespace quorvel_tools
{

// Counts SIGINT and SIGTERM instead of ending the process (Session does this itself; a command
// that makes its own contexts calls it first).
void count_interrupts();
// How many times SIGINT or SIGTERM arrived since count_interrupts().
int interrupt_count();

// Initialises the client library with the full command line (its --ros-args part is the
// library's) and creates one node. SIGINT and SIGTERM do not shut the library down: they are
// counted, so that a command can still talk to the graph after Ctrl-C (to cancel a goal, or
// to say what it leaves behind). Shuts the library down on destruction.
// One per process; use from the main thread only.
class Session
{
public:
  // Throws what the client library throws for bad ROS arguments or a failed start.
  Session(int argc, char ** argv, const std::string & node_name);
  ~Session();

  Session(const Session &) = delete;
  Session & operator=(const Session &) = delete;

  rclcpp::Node::SharedPtr node() const { return node_; }

  // How many times SIGINT or SIGTERM arrived since the session started.
  int interrupts() const;

  // Runs the node's callbacks until `done()` holds, `budget` has passed or a signal arrives;
  // returns `done()`.
  template <typename PredicateT>
  bool spin_until(PredicateT done, std::chrono::milliseconds budget)
  {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const int seen = interrupts();
    while (!done() && interrupts() == seen) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::nanoseconds(0)) {
        break;
      }
      spin_once(std::min<std::chrono::nanoseconds>(left, kSpinSlice));
    }
    return done();
  }

  // Runs callbacks for `budget`, or until a signal arrives.
  void spin_for(std::chrono::milliseconds budget)
  {
    spin_until([] { return false; }, budget);
  }

private:
  // A signal does not wake the executor's wait; short slices keep Ctrl-C responsive.
  static constexpr std::chrono::milliseconds kSpinSlice{50};

  void spin_once(std::chrono::nanoseconds timeout);

  rclcpp::Node::SharedPtr node_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__SESSION_HPP_
