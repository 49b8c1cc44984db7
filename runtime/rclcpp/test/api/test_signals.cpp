// SIGINT and SIGTERM shut the context down: spin returns and the program exits 0.
#include <gtest/gtest.h>

#include "test_support.hpp"

using test_support::Peer;

TEST(Signals, sigint_and_sigterm_end_spin_and_the_process_exits_zero)
{
  test_support::use_domain(134);
  for (int signum : {SIGINT, SIGTERM}) {
    Peer peer({"spin"});
    ASSERT_TRUE(peer.wait_for_output("ready", std::chrono::seconds(10))) << peer.output();
    peer.signal(signum);
    EXPECT_EQ(peer.wait_exit(std::chrono::seconds(10)), 0) << peer.output();
  }
}
