// quorvel dashboard --bag: the dashboard's page over a recorded bag.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "commands.hpp"
#include "dashboard/replay.hpp"
#include "dashboard/server.hpp"
#include "progress.hpp"

namespace quorvel_tools
{

namespace
{

std::atomic<int> g_interrupts{0};

void on_interrupt(int) { g_interrupts.fetch_add(1); }

// Ends the reading of a bag that Ctrl-C made pointless.
struct Interrupted
{
};

std::string thousands(std::uint64_t value)
{
  std::string text = std::to_string(value);
  for (int at = static_cast<int>(text.size()) - 3; at > 0; at -= 3) {
    text.insert(static_cast<std::size_t>(at), ",");
  }
  return text;
}

}  // namespace

bool dashboard_replays(const std::vector<std::string> & args)
{
  try {
    return !parse_dashboard(args).bag.empty();
  } catch (const UsageError &) {
    // The live path reports it.
    return false;
  }
}

ExitCode run_dashboard_replay(const DashboardOptions & options)
{
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);

  const auto loaded_at = std::chrono::steady_clock::now();
  Progress progress(std::cerr, isatty(STDERR_FILENO) != 0, std::chrono::seconds(2));
  const std::string what = "quorvel dashboard: reading bag '" + options.bag + "'";
  std::unique_ptr<BagReplay> replay;
  try {
    replay = std::make_unique<BagReplay>(options.bag, [&](std::uint64_t done, std::uint64_t total) {
      if (g_interrupts.load() > 0) {
        throw Interrupted{};
      }
      const double percent = total > 0 ? 100.0 * static_cast<double>(done) / total : 100.0;
      char detail[96];
      std::snprintf(
          detail, sizeof detail, ", %.0f%% of %s messages", percent, thousands(total).c_str());
      progress.update(what, detail);
    });
  } catch (const Interrupted &) {
    progress.clear();
    std::cerr << "quorvel dashboard: stopped while reading the bag" << std::endl;
    return ExitCode::kOk;
  } catch (...) {
    progress.clear();
    throw;
  }
  progress.clear();
  const double load_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - loaded_at).count();

  const std::string token = make_token();
  DashboardServer server(*replay, token, DashboardServer::Settings{});
  const std::string bind_error = server.bind(options.bind, options.port);
  if (!bind_error.empty()) {
    std::cerr << "quorvel dashboard: " << bind_error << std::endl;
    return ExitCode::kFailure;
  }
  server.start();
  std::cout << "dashboard: " << page_url(options.bind, options.port, token) << std::endl;
  char summary[160];
  std::snprintf(
      summary,
      sizeof summary,
      "%zu task(s), %s messages, read in %.1f s",
      replay->tasks().size(),
      thousands(replay->message_count()).c_str(),
      load_s);
  std::cerr << "quorvel dashboard: playing bag '" << replay->label() << "' (" << summary << ") on "
            << options.bind << " port " << options.port << "; Ctrl-C stops" << std::endl;
  if (replay->tasks().empty()) {
    std::cerr << "quorvel dashboard: the bag holds no task events: the page shows the arm's "
                 "topics over the whole recording"
              << std::endl;
  }
  if (options.bind != "127.0.0.1" && options.bind != "::1") {
    std::cerr << "quorvel dashboard: " << options.bind
              << " is not loopback: other machines may reach the page" << std::endl;
  }
  while (g_interrupts.load() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  server.stop();
  std::cerr << "quorvel dashboard: stopped" << std::endl;
  return ExitCode::kOk;
}

}  // namespace quorvel_tools
