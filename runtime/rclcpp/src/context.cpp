#include "rclcpp/context.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <semaphore.h>
#include <thread>
#include <unistd.h>

#include "base/arguments.hpp"
#include "base/security.hpp"
#include "dds/dds.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/logging.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp
{

Context::Context() : arguments_(std::make_unique<base::ParsedArguments>()) {}

Context::~Context()
{
  if (is_valid()) {
    shutdown("context destroyed");
  }
  std::unique_lock<std::mutex> lock(mutex_);
  shutdown_cv_.wait(lock, [this]() {return shutdowns_running_ == 0;});
}

void InitOptions::use_default_domain_id()
{
  const char * value = std::getenv("ROS_DOMAIN_ID");
  if (value == nullptr || *value == '\0') {
    domain_id_ = 0;
    return;
  }
  try {
    domain_id_ = dds::DomainConfig::from_environment().domain_id;
  } catch (const dds::DdsError & error) {
    throw exceptions::RCLError(error.what());
  }
}

void Context::init(int argc, char const * const * argv, const InitOptions & init_options)
{
  // Refused before anything else, so that no participant ever joins a domain unauthenticated.
  switch (base::security_request(
      std::getenv("ROS_SECURITY_ENABLE"), std::getenv("ROS_SECURITY_STRATEGY"))) {
    case base::SecurityRequest::kOff:
      break;
    case base::SecurityRequest::kPermissive:
      RCLCPP_WARN(get_logger("rclcpp"), "%s", base::security_permissive_warning().c_str());
      break;
    case base::SecurityRequest::kEnforce:
      throw exceptions::RCLError(base::security_refusal_message());
  }
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.emplace_back(argv[i] ? argv[i] : "");
  }
  base::ParsedArguments parsed;
  try {
    parsed = base::parse_arguments(args);
  } catch (const base::InvalidRosArgsError & e) {
    throw exceptions::RCLInvalidROSArgsError(e.what());
  }
  if (!parsed.unknown_ros_args.empty()) {
    throw exceptions::UnknownROSArgsError(std::move(parsed.unknown_ros_args));
  }
  base::apply_log_levels(parsed.log_levels);
  std::lock_guard<std::mutex> lock(mutex_);
  *arguments_ = std::move(parsed);
  domain_id_ = init_options.get_domain_id();
  shutdown_reason_.clear();
  valid_.store(true);
}

bool Context::shutdown(const std::string & reason)
{
  std::vector<OnShutdownCallback> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_.exchange(false)) {
      return false;
    }
    shutdown_reason_ = reason;
    callbacks = on_shutdown_callbacks_;
    ++shutdowns_running_;
    shutdown_cv_.notify_all();
  }
  interrupts_.call_all();
  for (auto & callback : callbacks) {
    callback();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --shutdowns_running_;
  shutdown_cv_.notify_all();
  return true;
}

std::string Context::shutdown_reason() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

Context::OnShutdownCallback Context::on_shutdown(OnShutdownCallback callback)
{
  std::lock_guard<std::mutex> lock(mutex_);
  on_shutdown_callbacks_.push_back(callback);
  return callback;
}

std::vector<std::string> Context::get_unparsed_arguments() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return arguments_->unparsed;
}

bool Context::sleep_for(std::chrono::nanoseconds nanoseconds)
{
  std::unique_lock<std::mutex> lock(mutex_);
  shutdown_cv_.wait_for(lock, nanoseconds, [this]() {return !valid_.load();});
  return !valid_.load();
}

const base::ParsedArguments & Context::arguments() const
{
  return *arguments_;
}

std::shared_ptr<dds::Participant> Context::participant()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (!participant_) {
    const bool from_environment = domain_id_ == RCL_DEFAULT_DOMAIN_ID;
    dds::DomainConfig config = dds::DomainConfig::from_environment(from_environment);
    if (!from_environment) {
      dds::DomainConfig::check_domain_id(domain_id_, "the domain id");
      config.domain_id = static_cast<uint32_t>(domain_id_);
    }
    participant_ = dds::Participant::create(config);
  }
  return participant_;
}

uint64_t Context::add_interrupt(std::function<void ()> interrupt)
{
  return interrupts_.add(std::move(interrupt));
}

void Context::remove_interrupt(uint64_t handle)
{
  interrupts_.remove(handle);
}

void Context::release_participant()
{
  std::lock_guard<std::mutex> lock(mutex_);
  participant_.reset();
}

namespace contexts
{
Context::SharedPtr get_global_default_context()
{
  // Never destroyed: threads that outlive main (a detached worker, the signal thread) may still
  // ask it whether the program is shutting down. Its DDS participant is released at exit.
  static auto * context = new Context::SharedPtr(std::make_shared<Context>());
  return *context;
}
}  // namespace contexts

// ---------------------------------------------------------------------------------------------
// Signal handling. The handler only posts a semaphore (async-signal-safe); a thread waiting on
// it shuts the global context down, which wakes every executor.

namespace
{
sem_t g_signal_semaphore;
std::atomic_bool g_handlers_installed{false};
std::atomic_bool g_signal_thread_stop{false};
std::thread g_signal_thread;
struct sigaction g_old_sigint;
struct sigaction g_old_sigterm;
bool g_sigint_installed = false;
bool g_sigterm_installed = false;

void on_signal(int signum)
{
  (void)signum;
  sem_post(&g_signal_semaphore);
}

void signal_thread_main()
{
  while (true) {
    while (sem_wait(&g_signal_semaphore) != 0) {
    }
    if (g_signal_thread_stop.load()) {
      return;
    }
    contexts::get_global_default_context()->shutdown("signal");
  }
}
}  // namespace

bool install_signal_handlers(SignalHandlerOptions options)
{
  if (g_handlers_installed.exchange(true)) {
    return false;
  }
  sem_init(&g_signal_semaphore, 0, 0);
  g_signal_thread_stop.store(false);
  g_signal_thread = std::thread(signal_thread_main);
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigInt) {
    g_sigint_installed = sigaction(SIGINT, &action, &g_old_sigint) == 0;
  }
  if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigTerm) {
    g_sigterm_installed = sigaction(SIGTERM, &action, &g_old_sigterm) == 0;
  }
  return true;
}

bool signal_handlers_installed()
{
  return g_handlers_installed.load();
}

bool uninstall_signal_handlers()
{
  if (!g_handlers_installed.exchange(false)) {
    return false;
  }
  if (g_sigint_installed) {
    sigaction(SIGINT, &g_old_sigint, nullptr);
    g_sigint_installed = false;
  }
  if (g_sigterm_installed) {
    sigaction(SIGTERM, &g_old_sigterm, nullptr);
    g_sigterm_installed = false;
  }
  g_signal_thread_stop.store(true);
  sem_post(&g_signal_semaphore);
  if (g_signal_thread.joinable()) {
    g_signal_thread.join();
  }
  sem_destroy(&g_signal_semaphore);
  return true;
}

namespace
{
// At exit: join the signal thread, shut the global context down and let go of its participant,
// so peers see this process leave at once instead of after its lease.
struct ProcessExitCleanup
{
  ~ProcessExitCleanup()
  {
    uninstall_signal_handlers();
    auto context = contexts::get_global_default_context();
    context->shutdown("process exit");
    context->release_participant();
  }
} g_process_exit_cleanup;
}  // namespace

void init(
  int argc, char const * const * argv, const InitOptions & init_options,
  SignalHandlerOptions signal_handler_options)
{
  contexts::get_global_default_context()->init(argc, argv, init_options);
  if (signal_handler_options != SignalHandlerOptions::None) {
    install_signal_handlers(signal_handler_options);
  }
}

std::vector<std::string> init_and_remove_ros_arguments(
  int argc, char const * const * argv, const InitOptions & init_options)
{
  init(argc, argv, init_options);
  return contexts::get_global_default_context()->get_unparsed_arguments();
}

std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv)
{
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  return base::parse_arguments(args).unparsed;
}

bool ok(Context::SharedPtr context)
{
  if (!context) {
    context = contexts::get_global_default_context();
  }
  return context->is_valid();
}

bool shutdown(Context::SharedPtr context, const std::string & reason)
{
  if (!context) {
    context = contexts::get_global_default_context();
  }
  return context->shutdown(reason);
}

void on_shutdown(std::function<void ()> callback, Context::SharedPtr context)
{
  if (!context) {
    context = contexts::get_global_default_context();
  }
  context->on_shutdown(std::move(callback));
}

bool sleep_for(const std::chrono::nanoseconds & nanoseconds, Context::SharedPtr context)
{
  if (!context) {
    context = contexts::get_global_default_context();
  }
  return !context->sleep_for(nanoseconds);
}

}  // namespace rclcpp
