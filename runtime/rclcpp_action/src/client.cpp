#include "rclcpp_action/client.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace rclcpp_action
{

namespace
{

std::mt19937_64 seeded_engine()
{
  std::random_device device;
  std::seed_seq seed{
    device(), device(), device(), device(),
    static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  return std::mt19937_64(seed);
}

}  // namespace

ClientBase::ClientBase(rclcpp::Node & node)
: logger_(node.get_logger()), context_(node.get_node_base_interface()->get_context()),
  random_(seeded_engine())
{}

ClientBase::~ClientBase() = default;

void ClientBase::set_entities(
  std::shared_ptr<rclcpp::ClientBase> goal_client,
  std::shared_ptr<rclcpp::ClientBase> cancel_client,
  std::shared_ptr<rclcpp::ClientBase> result_client,
  std::shared_ptr<rclcpp::SubscriptionBase> feedback_subscription,
  std::shared_ptr<rclcpp::SubscriptionBase> status_subscription)
{
  service_clients_ = {std::move(goal_client), std::move(cancel_client), std::move(result_client)};
  subscriptions_ = {std::move(feedback_subscription), std::move(status_subscription)};
}

bool ClientBase::action_server_is_ready() const
{
  const bool services = std::all_of(
    service_clients_.begin(), service_clients_.end(),
    [](const auto & client) {return client->service_is_ready();});
  return services && std::all_of(
    subscriptions_.begin(), subscriptions_.end(),
    [](const auto & subscription) {return subscription->get_publisher_count() > 0;});
}

bool ClientBase::wait_for_action_server_nanoseconds(std::chrono::nanoseconds timeout)
{
  // Beyond a year counts as no limit, which also keeps the deadline from overflowing.
  const bool forever =
    timeout < std::chrono::nanoseconds(0) || timeout > std::chrono::hours(24 * 365);
  const auto deadline =
    std::chrono::steady_clock::now() + (forever ? std::chrono::nanoseconds(0) : timeout);
  const auto remaining = [&]() {
      if (forever) {
        return std::chrono::nanoseconds(-1);
      }
      return std::max(
        std::chrono::nanoseconds(0),
        std::chrono::duration_cast<std::chrono::nanoseconds>(
          deadline - std::chrono::steady_clock::now()));
    };
  for (const auto & client : service_clients_) {
    if (!client->wait_for_service(remaining())) {
      return false;
    }
  }
  // rclcpp offers no event for a subscription gaining a publisher. The server's publishers are
  // announced with its services, so by now they are usually matched; otherwise poll briefly.
  auto pause = std::chrono::microseconds(200);
  while (!action_server_is_ready()) {
    if (!context_->is_valid() || (!forever && remaining() == std::chrono::nanoseconds(0))) {
      return action_server_is_ready();
    }
    const auto left = remaining();
    context_->sleep_for(forever ? pause : std::min<std::chrono::nanoseconds>(pause, left));
    pause = std::min<std::chrono::microseconds>(2 * pause, std::chrono::milliseconds(10));
  }
  return true;
}

GoalUUID ClientBase::generate_goal_id()
{
  GoalUUID uuid;
  std::lock_guard<std::mutex> lock(random_mutex_);
  for (size_t i = 0; i < uuid.size(); i += 8) {
    uint64_t bits = random_();
    for (size_t j = 0; j < 8; ++j) {
      uuid[i + j] = static_cast<uint8_t>(bits >> (8 * j));
    }
  }
  return uuid;
}

}  // namespace rclcpp_action
