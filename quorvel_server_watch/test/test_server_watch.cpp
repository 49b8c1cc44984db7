// ServerWatch's judgement over sequences of graph looks, and list_servers against a real graph.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rclcpp/rclcpp.hpp>

#include "quorvel_server_watch/server_watch.hpp"

namespace
{

using quorvel_server_watch::ServerId;
using quorvel_server_watch::ServerIds;
using quorvel_server_watch::ServerWatch;
using Change = ServerWatch::Change;
using namespace std::chrono_literals;
// Any service type does; this one comes with rclcpp on both kinds of host.
using Service = rcl_interfaces::srv::ListParameters;

ServerId id(std::uint8_t n)
{
  ServerId server{};
  server[0] = n;
  return server;
}

struct Look
{
  int at_ms;
  ServerIds servers;
  bool reachable;
  Change expected;
};

// Plays `looks` after a request sent at 0 ms to `asked`; the settle time is 1 s.
void play(const ServerIds & asked, const std::vector<Look> & looks, const char * story)
{
  const auto t0 = ServerWatch::Clock::time_point{} + 1h;
  ServerWatch watch(1s);
  watch.sent(asked, t0);
  for (const Look & look : looks) {
    EXPECT_EQ(
        static_cast<int>(watch.update(look.servers, look.reachable, t0 + look.at_ms * 1ms)),
        static_cast<int>(look.expected))
        << story << ", at " << look.at_ms << " ms";
  }
}

TEST(ServerWatchJudgement, TellsGoneBackAndReplacedServersApart)
{
  const ServerIds a{id(1)};
  const ServerIds b{id(2)};
  const ServerIds ab{id(1), id(2)};
  play(a, {{200, a, true, Change::kNone}, {400, a, true, Change::kNone}}, "a server that stays");
  // A cut longer than the lease: the same server leaves the graph and comes back.
  play(
      a,
      {{200, a, true, Change::kNone},
       {400, {}, false, Change::kGone},
       {600, {}, false, Change::kNone},
       {800, a, false, Change::kNone},  // listed, not matched yet
       {1000, a, true, Change::kNone},  // reachable from here
       {1800, a, true, Change::kNone},  // not settled
       {2000, a, true, Change::kBack}},
      "a server cut off and back");
  // A return that does not last starts the settle time again.
  play(
      a,
      {{200, {}, false, Change::kGone},
       {400, a, true, Change::kNone},
       {600, {}, false, Change::kNone},
       {800, a, true, Change::kNone},
       {1600, a, true, Change::kNone},
       {1800, a, true, Change::kBack}},
      "a server that flickers back");
  // A program restarted after its lease ran out: another id comes back.
  play(
      a,
      {{200, {}, false, Change::kGone},
       {500, b, true, Change::kNone},
       {1500, b, true, Change::kBack}},
      "a server restarted late");
  // Restarted before its old self's lease ran out: the new one appears beside the old one.
  ServerWatch watch(1s);
  const auto t0 = ServerWatch::Clock::time_point{} + 1h;
  watch.sent(a, t0);
  EXPECT_EQ(watch.update(ab, true, t0 + 200ms), Change::kNone);
  EXPECT_EQ(watch.update(ab, true, t0 + 1100ms), Change::kNone);
  EXPECT_EQ(watch.update(ab, true, t0 + 1200ms), Change::kGone);
  EXPECT_TRUE(watch.replaced());
  EXPECT_EQ(*watch.gone_since(), t0 + 200ms);
  EXPECT_EQ(watch.update(ab, true, t0 + 1300ms), Change::kBack);
  // Sent again to both: the old one leaving later changes nothing.
  watch.sent(ab, t0 + 1300ms);
  EXPECT_FALSE(watch.replaced());
  EXPECT_EQ(watch.update(b, true, t0 + 11000ms), Change::kNone);
  EXPECT_EQ(watch.update(b, true, t0 + 12000ms), Change::kNone);
  // A newcomer that leaves again before it settled is not a replacement.
  play(
      a,
      {{200, ab, true, Change::kNone},
       {700, a, true, Change::kNone},
       {1500, ab, true, Change::kNone},
       {2400, ab, true, Change::kNone},
       {2500, ab, true, Change::kGone}},
      "a newcomer that comes and goes");
  // Sent before the graph listed the server: the first server seen is the one asked.
  play(
      {},
      {{100, a, true, Change::kNone},
       {300, a, true, Change::kNone},
       {500, {}, false, Change::kGone}},
      "a request sent before the graph caught up");
  // ... and a server that left before the graph ever listed it: the client's match tells.
  play(
      {},
      {{100, {}, true, Change::kNone},
       {300, {}, false, Change::kGone},
       {500, {}, false, Change::kNone},
       {700, b, true, Change::kNone},
       {1700, b, true, Change::kBack}},
      "a server gone before the graph listed it");
}

TEST(ServerWatchGraph, ListsAServiceServersByIdsThatARestartDoesNotKeep)
{
  EXPECT_EQ(quorvel_server_watch::request_topic("/a/b"), "rq/a/bRequest");
  EXPECT_EQ(quorvel_server_watch::request_topic("a"), "rq/aRequest");

  const auto node = std::make_shared<rclcpp::Node>("server_watch_test");
  const auto client = node->create_client<Service>("/server_watch_test/echo");
  const std::string name = client->get_service_name();
  EXPECT_EQ(name, "/server_watch_test/echo");
  EXPECT_TRUE(quorvel_server_watch::list_servers(*node, name).empty());

  const auto wait_for = [&](auto done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    return done();
  };
  const auto make_server = [] {
    auto server_node = std::make_shared<rclcpp::Node>("server_watch_server");
    auto service = server_node->create_service<Service>(
        "/server_watch_test/echo",
        [](const std::shared_ptr<Service::Request>, std::shared_ptr<Service::Response>) {});
    return std::make_pair(server_node, service);
  };

  ServerIds first;
  {
    const auto server = make_server();
    ASSERT_TRUE(wait_for([&] {
      first = quorvel_server_watch::list_servers(*node, name);
      return first.size() == 1 && client->service_is_ready();
    }));
  }
  // Destroyed: gone from the graph at once (a clean leave, no lease to wait for).
  ASSERT_TRUE(wait_for([&] { return quorvel_server_watch::list_servers(*node, name).empty(); }));
  const auto again = make_server();
  ServerIds second;
  ASSERT_TRUE(wait_for([&] {
    second = quorvel_server_watch::list_servers(*node, name);
    return second.size() == 1;
  }));
  EXPECT_NE(*first.begin(), *second.begin());
}

}  // namespace

int main(int argc, char ** argv)
{
  testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
