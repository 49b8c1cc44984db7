#include "session.hpp"

#include <atomic>
#include <csignal>

namespace quorvel_tools
{

namespace
{

// Written by the signal handler, so it must be a lock-free atomic.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free count");

extern "C" void count_interrupt(int) { g_interrupts.fetch_add(1); }

}  // namespace

void count_interrupts()
{
  struct sigaction action
  {
  };
  action.sa_handler = count_interrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking wait in the main thread should come back and look at the count.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interrupt_count() { return g_interrupts.load(); }

Session::Session(int argc, char ** argv, const std::string & node_name)
{
  count_interrupts();
  rclcpp::init(argc, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  try {
    node_ = std::make_shared<rclcpp::Node>(node_name);
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>();
    executor_->add_node(node_);
  } catch (...) {
    rclcpp::shutdown();
    throw;
  }
}

Session::~Session()
{
  executor_.reset();
  node_.reset();
  rclcpp::shutdown();
}

int Session::interrupts() const { return g_interrupts.load(); }

void Session::spin_once(std::chrono::nanoseconds timeout) { executor_->spin_once(timeout); }

}  // namespace quorvel_tools
