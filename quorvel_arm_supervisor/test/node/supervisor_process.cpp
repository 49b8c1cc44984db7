#include "supervisor_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char ** environ;

namespace quorvel_arm_supervisor::node_test
{

namespace
{

std::string ReadFile(const std::string & path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t CountIn(const std::string & text, const std::string & needle)
{
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

SupervisorProcess::SupervisorProcess(
    const std::vector<std::string> & arguments,
    const std::map<std::string, std::optional<std::string>> & environment)
{
  char pattern[] = "/tmp/arm_supervisor_node_test_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  directory_ = pattern;

  std::vector<std::string> argument_texts{ARM_SUPERVISOR_EXECUTABLE};
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string & text : argument_texts) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);

  std::map<std::string, std::string> variables;
  for (char ** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) {
      variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
  }
  for (const auto & [name, value] : environment) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> environment_texts;
  for (const auto & [name, value] : variables) {
    environment_texts.push_back(name + "=" + value);
  }
  std::vector<char *> envp;
  for (std::string & text : environment_texts) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out_path = directory_ + "/stdout";
  const std::string err_path = directory_ + "/stderr";
  posix_spawn_file_actions_addopen(
      &actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(
      &actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(error));
  }
}

SupervisorProcess::~SupervisorProcess()
{
  // Ctrl-C first, so that the program leaves the graph now rather than when its lease runs
  // out: a dead server that still shows would confuse the next test's client.
  Interrupt();
  if (pid_ > 0 && !WaitForExit(std::chrono::seconds(5))) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  unlink((directory_ + "/stdout").c_str());
  unlink((directory_ + "/stderr").c_str());
  rmdir(directory_.c_str());
}

std::string SupervisorProcess::Stdout() const { return ReadFile(directory_ + "/stdout"); }

std::string SupervisorProcess::Stderr() const { return ReadFile(directory_ + "/stderr"); }

std::string SupervisorProcess::Output() const { return Stdout() + Stderr(); }

bool SupervisorProcess::WaitForOutput(
    const std::string & text, std::chrono::milliseconds timeout) const
{
  return WaitForCount(text, 1, timeout);
}

std::size_t SupervisorProcess::Count(const std::string & text) const
{
  return CountIn(Stdout(), text) + CountIn(Stderr(), text);
}

bool SupervisorProcess::WaitForCount(
    const std::string & text, std::size_t count, std::chrono::milliseconds timeout) const
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Count(text) < count) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void SupervisorProcess::Interrupt() const
{
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGINT);
  }
}

std::optional<int> SupervisorProcess::WaitForExit(std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

bool AppearInOrder(const std::string & output, const std::vector<std::string> & texts)
{
  std::size_t at = 0;
  for (const std::string & text : texts) {
    at = output.find(text, at);
    if (at == std::string::npos) {
      return false;
    }
    at += text.size();
  }
  return true;
}

}  // namespace quorvel_arm_supervisor::node_test
