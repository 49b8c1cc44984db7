// quorvel dashboard over HTTP, as a browser (or a hostile page in one) reaches it: the real
// program, watching fake_task_supervisor, each started and stopped here by its PID.
//
// Environment: ROS_DOMAIN_ID (this test's own), QUORVEL_TOOL, FAKE_TASK_SUPERVISOR.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "dashboard/server.hpp"
#include "quorvel_bag/writer.hpp"
#include "replay_fixture.hpp"

namespace quorvel_tools
{
namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr int kPort = 18741;        // the shared dashboard
constexpr int kBusyPort = 18742;    // held by the test
constexpr int kSignalPort = 18743;  // a dashboard stopped with a page open
constexpr int kReplayPort = 18744;  // a dashboard playing a bag

std::string env(const char * name)
{
  const char * value = std::getenv(name);
  return value ? value : "";
}

// A program started by the test: output in a file, stopped by its PID.
class Child
{
public:
  explicit Child(const std::vector<std::string> & argv)
  {
    char path[] = "/tmp/quorvel-dashboard-test.XXXXXX";
    const int fd = mkstemp(path);
    log_ = path;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      std::vector<char *> args;
      for (const std::string & arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
      }
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fd);
  }

  ~Child()
  {
    stop();
    unlink(log_.c_str());
  }

  Child(const Child &) = delete;
  Child & operator=(const Child &) = delete;

  std::string output() const
  {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The first match of `pattern` in the output, waiting up to `limit`.
  std::optional<std::smatch> wait_for(const std::string & pattern, Clock::duration limit)
  {
    const std::regex re(pattern);
    const auto deadline = Clock::now() + limit;
    for (;;) {
      // Kept alive for the match's iterators.
      text_ = output();
      std::smatch match;
      if (std::regex_search(text_, match, re)) {
        return match;
      }
      if (Clock::now() >= deadline || exited()) {
        return std::nullopt;
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  int count(const std::string & needle) const
  {
    const std::string text = output();
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
      ++n;
    }
    return n;
  }

  // The exit status once it ended within `limit`; -1 for a signal.
  std::optional<int> wait_exit(Clock::duration limit)
  {
    const auto deadline = Clock::now() + limit;
    while (!exited()) {
      if (Clock::now() >= deadline) {
        return std::nullopt;
      }
      std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  void signal(int number)
  {
    if (!exited()) {
      kill(pid_, number);
    }
  }

  void stop()
  {
    for (const int number : {SIGINT, SIGKILL}) {
      signal(number);
      if (wait_exit(5s)) {
        return;
      }
    }
  }

private:
  bool exited()
  {
    if (!done_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) {
      done_ = true;
    }
    return done_ || pid_ <= 0;
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool done_ = false;
  std::string log_;
  std::string text_;
};

Child start_dashboard(const std::vector<std::string> & options)
{
  std::vector<std::string> argv = {env("QUORVEL_TOOL"), "dashboard"};
  argv.insert(argv.end(), options.begin(), options.end());
  return Child(argv);
}

httplib::Client client(int port)
{
  httplib::Client cli("127.0.0.1", port);
  cli.set_connection_timeout(2, 0);
  cli.set_read_timeout(20, 0);  // a press waits for the action server's answer
  return cli;
}

httplib::Headers token_header(const std::string & token) { return {{"X-Quorvel-Token", token}}; }

Json json_of(const httplib::Result & result)
{
  return result ? Json::parse(result->body, nullptr, false) : Json();
}

// A server-sent event stream read on a thread of its own, until stop() or the server ends it.
class StreamReader
{
public:
  explicit StreamReader(int port) : cli_("127.0.0.1", port)
  {
    cli_.set_read_timeout(15, 0);
    thread_ = std::thread([this] {
      cli_.Get("/api/stream", [this](const char * data, std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(data, size);
        return !stop_.load();
      });
      ended_.store(true);
    });
  }

  ~StreamReader()
  {
    stop_.store(true);
    cli_.stop();
    thread_.join();
  }

  std::string text() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

  // The data of every event named `name` so far.
  std::vector<Json> events(const std::string & name) const
  {
    std::vector<Json> found;
    const std::string text = this->text();
    const std::string head = "event: " + name + "\ndata: ";
    for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
      const std::size_t start = at + head.size();
      const std::size_t end = text.find("\n\n", start);
      if (end == std::string::npos) {
        break;
      }
      found.push_back(Json::parse(text.substr(start, end - start), nullptr, false));
    }
    return found;
  }

  bool ended() const { return ended_.load(); }

private:
  httplib::Client cli_;
  mutable std::mutex mutex_;
  std::string text_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

template <typename PredicateT>
bool eventually(PredicateT condition, Clock::duration limit)
{
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// "HTTP/1.1 403 ..." for a request written by hand (to leave out the Host header).
std::string raw_status_line(int port, const std::string & request)
{
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[512];
    const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n > 0) {
      reply.assign(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return reply.substr(0, reply.find("\r\n"));
}

// The fake and one dashboard, shared by the tests of the running dashboard.
class RunningDashboard : public testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    fake_ = new Child({env("FAKE_TASK_SUPERVISOR"), "--time-scale", "0.25"});
    dashboard_ = new Child(start_dashboard({"--port", std::to_string(kPort)}));
    const auto url = dashboard_->wait_for(
        "dashboard: http://127\\.0\\.0\\.1:" + std::to_string(kPort) + "/\\?token=([0-9a-f]{32})\n",
        20s);
    ASSERT_TRUE(url) << dashboard_->output();
    token_ = (*url)[1];
    ASSERT_TRUE(fake_->wait_for("ready", 20s)) << fake_->output();
    // Buttons need the action server discovered; the page's state says when it is.
    ASSERT_TRUE(eventually(
        [] {
          const Json state = json_of(client(kPort).Get("/api/state"));
          return state.is_object() && state["endpoints"]["items"].is_array() &&
                 !state["endpoints"]["items"].empty() &&
                 state["endpoints"]["items"][0]["up"] == true;
        },
        30s));
  }

  static void TearDownTestSuite()
  {
    delete dashboard_;
    delete fake_;
  }

  static bool task_idle()
  {
    const Json state = json_of(client(kPort).Get("/api/state"));
    return state.is_object() && state["task"]["running"] == false;
  }

  static Child * fake_;
  static Child * dashboard_;
  static std::string token_;
};

Child * RunningDashboard::fake_ = nullptr;
Child * RunningDashboard::dashboard_ = nullptr;
std::string RunningDashboard::token_;

TEST_F(RunningDashboard, ThePageAndItsFilesComeFromTheDashboardItself)
{
  auto cli = client(kPort);
  const auto page = cli.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(
      page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
      std::string::npos);
  EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");

  // Every file the page loads, and no reference to anything elsewhere: the only URL allowed
  // is the SVG namespace name, which is never fetched. References are relative (the same page
  // serves an arm under quorvel fleet's arm/<n>/); "../../" is the way back to a fleet.
  const std::regex reference("src=\"([^\"]+)\"|href=\"([^\"]+)\"");
  std::vector<std::string> files = {"/"};
  for (std::sregex_iterator it(page->body.begin(), page->body.end(), reference), end; it != end;
       ++it) {
    const std::string target = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
    if (target.rfind("data:", 0) == 0 || target == "../../") {
      continue;
    }
    EXPECT_EQ(target.find(':'), std::string::npos) << target;
    EXPECT_NE(target.rfind("/", 0), 0u) << target;
    files.push_back("/" + target);
  }
  EXPECT_EQ(files.size(), 3u);  // the page, its script, its style
  const std::regex external("(https?:)?//[A-Za-z0-9.-]+\\.[A-Za-z]{2,}|@import");
  for (const std::string & file : files) {
    SCOPED_TRACE(file);
    const auto got = cli.Get(file.c_str());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
    std::string body = got->body;
    body = std::regex_replace(body, std::regex("http://www\\.w3\\.org/2000/svg"), "");
    std::smatch found;
    EXPECT_FALSE(std::regex_search(body, found, external)) << found.str();
  }
  EXPECT_EQ(
      cli.Get("/dashboard.js")->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(cli.Get("/nothing-here")->status, 404);

  const auto state = cli.Get("/api/state");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->get_header_value("Content-Type"), "application/json");
  const Json json = json_of(state);
  for (const char * section :
       {"task", "timeline", "workspace", "surroundings", "arm", "voice", "outcomes", "endpoints"}) {
    EXPECT_TRUE(json.contains(section)) << section;
  }
  EXPECT_EQ(json["workspace"]["reach_limit"], 0.9);
}

TEST_F(RunningDashboard, RequestsNamingAnotherHostAreRefused)
{
  auto cli = client(kPort);
  const std::string port = ":" + std::to_string(kPort);
  for (const std::string & host : std::vector<std::string>{
           "evil.example" + port, "127.0.0.1:1", "127.0.0.1", "localhost.evil" + port}) {
    SCOPED_TRACE(host);
    const httplib::Headers named = {{"Host", host}};
    EXPECT_EQ(cli.Get("/", named)->status, 403);
    EXPECT_EQ(cli.Get("/api/state", named)->status, 403);
    EXPECT_EQ(cli.Get("/api/stream", named)->status, 403);
    // Even with the token: a rebinding page could have read it from nowhere, but refuse anyway.
    httplib::Headers pressed = token_header(token_);
    pressed.emplace("Host", host);
    EXPECT_EQ(cli.Post("/api/cancel", pressed, "", "text/plain")->status, 403);
  }
  for (const std::string & host : std::vector<std::string>{
           "127.0.0.1" + port, "localhost" + port, "LocalHost" + port, "[::1]" + port}) {
    SCOPED_TRACE(host);
    EXPECT_EQ(cli.Get("/api/state", {{"Host", host}})->status, 200);
  }
  EXPECT_EQ(raw_status_line(kPort, "GET / HTTP/1.0\r\n\r\n").substr(9, 3), "403");
  // No cross-origin reading is offered.
  const auto cross = cli.Get("/api/state", {{"Origin", "http://evil.example"}});
  EXPECT_FALSE(cross->has_header("Access-Control-Allow-Origin"));
  EXPECT_EQ(fake_->count("cancel requested"), 0);
}

TEST_F(RunningDashboard, ButtonsWithoutTheTokenDoNothingAndWithItReachTheSupervisor)
{
  ASSERT_TRUE(eventually(task_idle, 30s));
  auto cli = client(kPort);
  std::string upper = token_;
  for (char & c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::vector<httplib::Headers> refused = {
      {},
      token_header("0123456789abcdef0123456789abcdef"),
      token_header(token_.substr(0, 31)),
      token_header(token_ + "0"),
      token_header(upper),
      {{"Cookie", "token=" + token_}},
  };
  for (const auto & headers : refused) {
    EXPECT_EQ(cli.Post("/api/task", headers, "{\"cmd\": 1}", "application/json")->status, 403);
    EXPECT_EQ(cli.Post("/api/cancel", headers, "", "text/plain")->status, 403);
  }
  EXPECT_EQ(cli.Post("/api/task?token=" + token_, std::string(), "text/plain")->status, 403);
  // A body that is not a task is refused before anything is sent.
  for (const char * body :
       {"{", "[1]", "{\"cmd\": \"1\"}", "{\"cmd\": 2147483648}", "{\"cmd\": 1.5}"}) {
    SCOPED_TRACE(body);
    EXPECT_EQ(cli.Post("/api/task", token_header(token_), body, "application/json")->status, 400);
  }

  const auto sent = cli.Post("/api/task", token_header(token_), "{\"cmd\": 7}", "application/json");
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->status, 200) << sent->body;
  const Json answer = json_of(sent);
  EXPECT_EQ(answer["ok"], true);
  EXPECT_EQ(answer["message"], "goal accepted: cmd 7");
  EXPECT_TRUE(std::regex_match(answer["goal_id"].get<std::string>(), std::regex("[0-9a-f]{32}")));
  ASSERT_TRUE(fake_->wait_for("goal received: cmd 7", 5s)) << fake_->output();

  // One task at a time: the supervisor's refusal comes back as such.
  const auto second = cli.Post("/api/task", token_header(token_), "", "text/plain");
  EXPECT_EQ(second->status, 409) << second->body;
  EXPECT_EQ(json_of(second)["ok"], false);

  const auto cancel = cli.Post("/api/cancel", token_header(token_), "", "text/plain");
  EXPECT_EQ(cancel->status, 200) << cancel->body;
  ASSERT_TRUE(fake_->wait_for("cancel requested", 5s));
  EXPECT_TRUE(eventually(
      [] {
        const Json state = json_of(client(kPort).Get("/api/state"));
        return state["task"]["cancel_requested"] == true || state["task"]["running"] == false;
      },
      5s));

  EXPECT_EQ(fake_->count("goal received"), 1);
  EXPECT_EQ(fake_->count("cancel requested"), 1);
  ASSERT_TRUE(fake_->wait_for("task ended: canceled", 30s));
  // Nothing to cancel any more.
  EXPECT_TRUE(eventually(task_idle, 10s));
  EXPECT_EQ(cli.Post("/api/cancel", token_header(token_), "", "text/plain")->status, 409);
}

TEST_F(RunningDashboard, TheStreamCarriesTheSupervisorsEventsAsTheyHappen)
{
  ASSERT_TRUE(eventually(task_idle, 30s));
  StreamReader stream(kPort);
  ASSERT_TRUE(eventually([&stream] { return !stream.events("snapshot").empty(); }, 5s));
  EXPECT_TRUE(stream.events("snapshot")[0]["task"].is_object());

  const auto sent = client(kPort).Post("/api/task", token_header(token_), "", "text/plain");
  ASSERT_TRUE(sent);
  ASSERT_EQ(sent->status, 200) << sent->body;
  const std::string goal = json_of(sent)["goal_id"];

  // The task's start and end, each as it is published, as JSON.
  const auto has_kind = [&stream, &goal](int kind) {
    for (const Json & timeline : stream.events("timeline")) {
      if (timeline.is_discarded() || timeline["goal_id"] != goal) {
        continue;
      }
      for (const Json & entry : timeline["entries"]) {
        if (entry["kind"] == kind) {
          return true;
        }
      }
    }
    return false;
  };
  EXPECT_TRUE(eventually([&] { return has_kind(1); }, 10s)) << stream.text().substr(0, 2000);
  EXPECT_TRUE(eventually([&] { return has_kind(18); }, 30s));
  EXPECT_TRUE(eventually([&stream] { return !stream.events("outcomes").empty(); }, 5s));
  EXPECT_TRUE(eventually([&stream] { return !stream.events("arm").empty(); }, 5s));
  EXPECT_FALSE(stream.ended());
}

TEST(DashboardStart, APortInUseOrAnAddressNotHereEndsWithAMessage)
{
  // Another program holds the port.
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kBusyPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  {
    Child dashboard = start_dashboard({"--port", std::to_string(kBusyPort)});
    const auto status = dashboard.wait_exit(15s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 1);
    const std::string out = dashboard.output();
    EXPECT_NE(out.find("127.0.0.1:18742"), std::string::npos) << out;
    EXPECT_NE(out.find("already in use"), std::string::npos) << out;
    EXPECT_NE(out.find("--port"), std::string::npos) << out;
    EXPECT_EQ(out.find("dashboard: http"), std::string::npos) << out;
  }
  close(holder);

  // Another dashboard holds the port.
  {
    Child first = start_dashboard({"--port", std::to_string(kBusyPort)});
    ASSERT_TRUE(first.wait_for("dashboard: http", 20s)) << first.output();
    Child second = start_dashboard({"--port", std::to_string(kBusyPort)});
    const auto status = second.wait_exit(15s);
    ASSERT_TRUE(status) << "a second dashboard started on the same port";
    EXPECT_EQ(*status, 1);
    EXPECT_NE(second.output().find("already in use"), std::string::npos) << second.output();
  }

  // TEST-NET-1: an address of no machine here.
  Child elsewhere = start_dashboard({"--port", std::to_string(kBusyPort), "--bind", "192.0.2.1"});
  const auto status = elsewhere.wait_exit(15s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 1);
  EXPECT_NE(
      elsewhere.output().find("192.0.2.1 is not an address of this machine"), std::string::npos)
      << elsewhere.output();

  // Wrong arguments are a usage error, before any start.
  for (const std::vector<std::string> & wrong :
       {std::vector<std::string>{"--bind", "localhost.evil"},
        {"--port", "0"},
        {"--port", "65536"},
        {"--port", "http"}}) {
    Child bad = start_dashboard(wrong);
    const auto code = bad.wait_exit(15s);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 2) << bad.output();
    EXPECT_NE(bad.output().find("usage: quorvel dashboard"), std::string::npos);
  }
}

TEST(DashboardStart, CtrlCEndsItPromptlyWithAPageOpen)
{
  Child dashboard = start_dashboard({"--port", std::to_string(kSignalPort)});
  ASSERT_TRUE(dashboard.wait_for("dashboard: http", 20s)) << dashboard.output();
  StreamReader stream(kSignalPort);
  ASSERT_TRUE(eventually([&stream] { return !stream.events("snapshot").empty(); }, 5s));

  const auto start = Clock::now();
  dashboard.signal(SIGINT);
  const auto status = dashboard.wait_exit(5s);
  ASSERT_TRUE(status) << "still running 5 s after Ctrl-C";
  EXPECT_EQ(*status, 0) << dashboard.output();
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_TRUE(eventually([&stream] { return stream.ended(); }, 5s));
}

// A bag played on the page: what it serves, and that nothing on it changes anything.
TEST(DashboardReplay, ServesTheRecordingAndRefusesEveryChange)
{
  char dir[] = "/tmp/quorvel-replay-http.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string bag = std::string(dir) + "/rec";
  replay_fixture::write_bag(bag, replay_fixture::desk_traffic(3, 1'765'171'339'937'000'000));

  Child dashboard = start_dashboard({"--bag", bag, "--port", std::to_string(kReplayPort)});
  const auto url = dashboard.wait_for(
      "dashboard: http://127\\.0\\.0\\.1:" + std::to_string(kReplayPort) +
          "/\\?token=([0-9a-f]{32})\n",
      30s);
  ASSERT_TRUE(url) << dashboard.output();
  const std::string token = (*url)[1];
  EXPECT_TRUE(dashboard.wait_for("playing bag '" + bag + "' \\(3 task", 5s)) << dashboard.output();

  auto cli = client(kReplayPort);
  EXPECT_EQ(json_of(cli.Get("/api/mode"))["mode"], "replay");
  const Json info = json_of(cli.Get("/api/replay"));
  ASSERT_EQ(info["tasks"].size(), 3U) << info.dump();
  const std::int64_t at = info["tasks"][1]["begin_ns"].get<std::int64_t>() + 500'000'000;
  const Json state = json_of(cli.Get("/api/state?at=" + std::to_string(at)));
  EXPECT_EQ(state["task"]["goal_id"], info["tasks"][1]["goal_id"]);
  EXPECT_EQ(state["replay"]["at_ns"], at);
  EXPECT_TRUE(state.contains("plot"));
  EXPECT_FALSE(json_of(cli.Get("/api/replay/state?at=" + std::to_string(at))).contains("plot"));
  // Without a moment: the end of the recording.
  EXPECT_EQ(json_of(cli.Get("/api/state"))["outcomes"]["items"].size(), 3U);
  EXPECT_EQ(
      json_of(cli.Get("/api/replay/task?index=2"))["events"].size(),
      info["tasks"][2]["events"].get<std::size_t>());
  for (const auto & [path, status] : std::vector<std::pair<std::string, int>>{
           {"/api/replay/task?index=3", 404},
           {"/api/replay/task?index=-1", 400},
           {"/api/replay/task", 400},
           {"/api/state?at=soon", 400},
           {"/api/stream", 404}}) {
    const auto result = cli.Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, status) << path << ": " << result->body;
  }

  // Pages looking at different moments at once each get the moment they asked for.
  std::vector<std::thread> pages;
  std::atomic<int> right{0};
  const std::int64_t span = info["duration_ns"].get<std::int64_t>();
  for (int page = 0; page < 4; ++page) {
    pages.emplace_back([&right, span, page] {
      auto own = client(kReplayPort);
      for (int look = 0; look < 10; ++look) {
        const std::int64_t moment = span / 41 * (page * 10 + look);
        const Json seen = json_of(own.Get("/api/replay/state?at=" + std::to_string(moment)));
        if (seen.is_object() && seen["replay"]["at_ns"] == moment) {
          ++right;
        }
      }
    });
  }
  for (std::thread & page : pages) {
    page.join();
  }
  EXPECT_EQ(right.load(), 40);

  // Nothing to change: refused without the token as on the live page, and with it too.
  for (const std::string path : {"/api/task", "/api/cancel", "/api/state", "/"}) {
    const auto without = cli.Post(path, "", "application/json");
    ASSERT_TRUE(without);
    EXPECT_EQ(without->status, 403) << path;
    const auto with = cli.Post(path, token_header(token), "{\"cmd\": 1}", "application/json");
    ASSERT_TRUE(with);
    EXPECT_EQ(with->status, 405) << path;
    EXPECT_EQ(with->get_header_value("Allow"), "GET, HEAD");
  }
  EXPECT_EQ(cli.Delete("/api/replay", token_header(token))->status, 405);
  // The Host check stays.
  httplib::Headers rebound = {{"Host", "attacker.example:" + std::to_string(kReplayPort)}};
  EXPECT_EQ(cli.Get("/api/replay", rebound)->status, 403);

  dashboard.signal(SIGINT);
  const auto status = dashboard.wait_exit(5s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0) << dashboard.output();
  std::filesystem::remove_all(dir);
}

TEST(DashboardReplay, ABadBagEndsTheStartWithTheBagsError)
{
  char dir[] = "/tmp/quorvel-replay-bad.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string cut = std::string(dir) + "/cut";
  {
    quorvel_bag::BagWriter writer(cut);
    quorvel_bag::TopicMetadata topic;
    topic.name = "/robot/unnormal_flag";
    topic.type = "std_msgs/msg/Bool";
    topic.offered_qos_profiles = "[]";
    const std::int64_t id = writer.add_topic(topic);
    const std::uint8_t bytes[] = {0, 1, 0};  // the header, no value
    writer.write(id, 1'765'171'339'937'000'000, bytes, sizeof bytes);
    writer.close();
  }
  const std::string missing = std::string(dir) + "/missing";
  for (const auto & [bag, says] : std::vector<std::pair<std::string, std::string>>{
           {cut, "does not decode"}, {missing, "no such directory"}}) {
    Child dashboard = start_dashboard({"--bag", bag, "--port", std::to_string(kReplayPort)});
    const auto status = dashboard.wait_exit(15s);
    ASSERT_TRUE(status) << bag;
    EXPECT_EQ(*status, 1) << dashboard.output();
    const std::string out = dashboard.output();
    EXPECT_NE(out.find("quorvel dashboard: bag '" + bag + "'"), std::string::npos) << out;
    EXPECT_NE(out.find(says), std::string::npos) << out;
    EXPECT_EQ(out.find("dashboard: http"), std::string::npos) << out;
  }
  // A recording has no supervisor to name.
  Child wrong = start_dashboard({"--bag", cut, "--action", "/other"});
  const auto code = wrong.wait_exit(15s);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 2) << wrong.output();
  std::filesystem::remove_all(dir);
}

// The pure helpers behind the checks above, on cases a live test does not reach.
TEST(DashboardAccess, HostNamesTokensAndAddresses)
{
  const auto hosts = allowed_hosts("::ffff:7f00:1", 8765);
  EXPECT_TRUE(host_allowed("[::ffff:7f00:1]:8765", hosts));
  EXPECT_TRUE(host_allowed("[::ffff:127.0.0.1]:8765", hosts));  // the canonical spelling
  EXPECT_TRUE(host_allowed("LOCALHOST:8765", hosts));
  EXPECT_FALSE(host_allowed("localhost", hosts));
  EXPECT_FALSE(host_allowed("", hosts));
  EXPECT_FALSE(host_allowed("localhost:8765 ", hosts));
  const auto web = allowed_hosts("127.0.0.1", 80);
  EXPECT_TRUE(host_allowed("localhost", web));  // the browser drops the default port
  EXPECT_TRUE(host_allowed("127.0.0.1:80", web));
  EXPECT_TRUE(host_allowed("10.1.2.3:8765", allowed_hosts("10.1.2.3", 8765)));
  EXPECT_FALSE(host_allowed("10.1.2.3:8765", allowed_hosts("127.0.0.1", 8765)));

  const std::string a = make_token();
  const std::string b = make_token();
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{32}")));
  EXPECT_NE(a, b);
  EXPECT_TRUE(token_matches(a, a));
  EXPECT_FALSE(token_matches(b, a));
  EXPECT_FALSE(token_matches("", ""));

  EXPECT_TRUE(is_ip_literal("0.0.0.0"));
  EXPECT_TRUE(is_ip_literal("::1"));
  EXPECT_FALSE(is_ip_literal("localhost"));
  EXPECT_FALSE(is_ip_literal("127.0.0.1:80"));
  EXPECT_EQ(page_url("0.0.0.0", 8765, "t"), "http://127.0.0.1:8765/?token=t");
  EXPECT_EQ(page_url("::1", 8765, "t"), "http://[::1]:8765/?token=t");
}

}  // namespace
}  // namespace quorvel_tools
