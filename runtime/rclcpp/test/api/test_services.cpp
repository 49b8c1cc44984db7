// Services and clients across processes: replies reach only the client that asked, a server
// that appears late is found, and a request sent before any server exists does no harm.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "rclcpp/rclcpp.hpp"
#include "test_support.hpp"

using quorvel_interfaces::srv::ArmGrab;
using test_support::Peer;

namespace
{
constexpr int kDomain = 131;

class Services : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_services"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}

  void SetUp() override
  {
    executor_ = std::make_unique<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 4);
  }
  void TearDown() override
  {
    if (spinner_.joinable()) {
      executor_->cancel();
      spinner_.join();
    }
  }
  void spin(const rclcpp::Node::SharedPtr & node)
  {
    executor_->add_node(node);
    spinner_ = std::thread([this]() {executor_->spin();});
  }

  static std::shared_ptr<ArmGrab::Request> request(int32_t cmd, uint8_t type)
  {
    auto r = std::make_shared<ArmGrab::Request>();
    r->cmd = cmd;
    r->trash_type = type;
    return r;
  }

  std::unique_ptr<rclcpp::executors::MultiThreadedExecutor> executor_;
  std::thread spinner_;
};
}  // namespace

TEST_F(Services, replies_reach_only_the_client_that_asked)
{
  Peer server({"server", "/grab_a"});
  ASSERT_TRUE(server.wait_for_output("ready", std::chrono::seconds(10))) << server.output();
  auto node_a = std::make_shared<rclcpp::Node>("client_a");
  auto node_b = std::make_shared<rclcpp::Node>("client_b");
  auto client_a = node_a->create_client<ArmGrab>("/grab_a");
  auto client_b = node_b->create_client<ArmGrab>("grab_a");  // relative: the same service
  rclcpp::executors::SingleThreadedExecutor executor_b;
  executor_b.add_node(node_b);
  std::thread spin_b([&executor_b]() {executor_b.spin();});
  struct StopB
  {
    rclcpp::executors::SingleThreadedExecutor & e;
    std::thread & t;
    ~StopB()
    {
      e.cancel();
      t.join();
    }
  } stop_b{executor_b, spin_b};
  spin(node_a);

  ASSERT_TRUE(client_a->wait_for_service(std::chrono::seconds(10)));
  ASSERT_TRUE(client_b->wait_for_service(std::chrono::seconds(10)));
  // Both clients' replies share one reply topic; each client must see only its own. The server
  // queue holds ten requests (the default service depth), so stay within it.
  std::vector<rclcpp::Client<ArmGrab>::SharedFuture> futures_a, futures_b;
  for (int i = 0; i < 5; ++i) {
    futures_a.push_back(client_a->async_send_request(request(i, 1)).future.share());
    futures_b.push_back(
      client_b->async_send_request(request(i, 2), [](rclcpp::Client<ArmGrab>::SharedFuture) {})
      .future);
  }
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(futures_a[i].wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << server.output();
    ASSERT_EQ(futures_b[i].wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << server.output();
    EXPECT_EQ(futures_a[i].get()->status, i * 1000 + 1);
    EXPECT_EQ(futures_b[i].get()->status, i * 1000 + 2);
    EXPECT_EQ(futures_a[i].get()->errmsg, "/grab_a");
  }
}

TEST_F(Services, a_server_that_appears_late_is_found_and_answers)
{
  auto node = std::make_shared<rclcpp::Node>("late_client");
  auto client = node->create_client<ArmGrab>("/grab_late");
  spin(node);
  EXPECT_FALSE(client->service_is_ready());
  EXPECT_FALSE(client->wait_for_service(std::chrono::milliseconds(200)));

  auto waited = std::async(std::launch::async, [&client]() {
        return client->wait_for_service(std::chrono::seconds(15));
      });
  Peer server({"server", "/grab_late"});
  ASSERT_TRUE(waited.get());
  EXPECT_TRUE(client->service_is_ready());
  auto future = client->async_send_request(request(7, 3));
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get()->status, 7003);
}

TEST_F(Services, a_request_sent_before_any_server_exists_does_no_harm)
{
  auto node = std::make_shared<rclcpp::Node>("early_client");
  auto client = node->create_client<ArmGrab>("/grab_early");
  spin(node);
  auto lost = client->async_send_request(request(1, 1));
  Peer server({"server", "/grab_early"});
  ASSERT_TRUE(client->wait_for_service(std::chrono::seconds(15)));
  auto answered = client->async_send_request(request(2, 2));
  ASSERT_EQ(answered.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(answered.get()->status, 2002);
  // Services are volatile: the early request had no reader and is simply never answered.
  EXPECT_TRUE(client->remove_pending_request(lost.request_id));
}

TEST_F(Services, spin_until_future_complete_returns_the_reply)
{
  Peer server({"server", "/grab_sufc"});
  auto node = std::make_shared<rclcpp::Node>("sufc_client");
  auto client = node->create_client<ArmGrab>("/grab_sufc");
  ASSERT_TRUE(client->wait_for_service(std::chrono::seconds(15)));
  auto future = client->async_send_request(request(3, 4));
  ASSERT_EQ(
    rclcpp::spin_until_future_complete(node, future, std::chrono::seconds(10)),
    rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(future.get()->status, 3004);
}
