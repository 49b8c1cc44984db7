#include "rosout.hpp"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/logging_backend.hpp"
#include "dds/dds.hpp"
#include "entity_support.hpp"
#include "rcl_interfaces/msg/log.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace rclcpp
{
namespace detail
{

struct RosoutPublisher::Endpoint
{
  node_interfaces::NodeBase::SharedPtr node;
  std::unique_ptr<dds::Writer> writer;

  ~Endpoint()
  {
    if (node && writer) {
      node->announce_writer(writer->gid(), false);
    }
  }
};

namespace
{

using Endpoint = RosoutPublisher::Endpoint;

struct RosoutRegistry
{
  std::mutex mutex;
  std::unordered_map<std::string, std::vector<std::shared_ptr<Endpoint>>> by_name;
  // Lets every record of a process without nodes skip the lock.
  std::atomic<size_t> names{0};
};

RosoutRegistry & rosout_registry()
{
  // Never destroyed: a thread may still log while the process exits.
  static auto * registry = new RosoutRegistry();
  return *registry;
}

// Set while this thread publishes a record: whatever that logs only goes to the console.
thread_local bool t_publishing_record = false;

std::string format_message(const char * format, va_list * args)
{
  char small[512];
  va_list first;
  va_copy(first, *args);
  const int length = std::vsnprintf(small, sizeof(small), format, first);
  va_end(first);
  if (length < 0) {
    return {};
  }
  if (static_cast<size_t>(length) < sizeof(small)) {
    return std::string(small, static_cast<size_t>(length));
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  va_list second;
  va_copy(second, *args);
  std::vsnprintf(&text[0], text.size(), format, second);
  va_end(second);
  text.resize(static_cast<size_t>(length));
  return text;
}

void publish_record(
  const rcutils_log_location_t * location, int severity, const char * name,
  rcutils_time_point_value_t timestamp, const char * format, va_list * args)
{
  RosoutRegistry & registry = rosout_registry();
  if (registry.names.load(std::memory_order_acquire) == 0 || t_publishing_record ||
    name == nullptr || format == nullptr)
  {
    return;
  }
  struct Publishing
  {
    Publishing() {t_publishing_record = true;}
    ~Publishing() {t_publishing_record = false;}
  } publishing;
  try {
    std::shared_ptr<Endpoint> endpoint;
    {
      std::lock_guard<std::mutex> lock(registry.mutex);
      const auto it = registry.by_name.find(name);
      if (it == registry.by_name.end() || it->second.empty()) {
        return;
      }
      endpoint = it->second.front();
    }
    rcl_interfaces::msg::Log record;
    constexpr int64_t kNsPerSec = 1000000000;
    int64_t sec = timestamp / kNsPerSec;
    int64_t nsec = timestamp % kNsPerSec;
    if (nsec < 0) {
      sec -= 1;
      nsec += kNsPerSec;
    }
    record.stamp.sec = static_cast<int32_t>(sec);
    record.stamp.nanosec = static_cast<uint32_t>(nsec);
    record.level = static_cast<uint8_t>(severity);
    record.name = name;
    record.msg = format_message(format, args);
    if (location != nullptr) {
      record.file = location->file_name ? location->file_name : "";
      record.function = location->function_name ? location->function_name : "";
      record.line = static_cast<uint32_t>(location->line_number);
    }
    // A refused write (a reader that stopped acknowledging) loses this record on /rosout only;
    // the console has it.
    (void)endpoint->writer->write(&record);
  } catch (...) {
    // Nothing here may reach the code that logged.
  }
}

}  // namespace

RosoutPublisher::RosoutPublisher(
  const node_interfaces::NodeBase::SharedPtr & node, const rclcpp::QoS & qos)
: logger_name_(node->get_logger().get_name()), endpoint_(std::make_shared<Endpoint>())
{
  const auto & profile = qos.get_rmw_qos_profile();
  endpoint_->writer = std::make_unique<dds::Writer>(
    node->participant(), dds_topic_name("/rosout", profile.avoid_ros_namespace_conventions),
    message_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
        rcl_interfaces::msg::Log>()),
    profile, std::string(), false, true);
  endpoint_->node = node;
  node->announce_writer(endpoint_->writer->gid(), true);

  base::set_record_observer(&publish_record);
  RosoutRegistry & registry = rosout_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto & endpoints = registry.by_name[logger_name_];
  endpoints.push_back(endpoint_);
  registry.names.store(registry.by_name.size(), std::memory_order_release);
}

RosoutPublisher::~RosoutPublisher()
{
  // The writer itself goes with the last reference: here, or after a record another thread is
  // publishing with it right now.
  RosoutRegistry & registry = rosout_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto it = registry.by_name.find(logger_name_);
  if (it != registry.by_name.end()) {
    auto & endpoints = it->second;
    for (auto e = endpoints.begin(); e != endpoints.end(); ++e) {
      if (*e == endpoint_) {
        endpoints.erase(e);
        break;
      }
    }
    if (endpoints.empty()) {
      registry.by_name.erase(it);
    }
  }
  registry.names.store(registry.by_name.size(), std::memory_order_release);
}

}  // namespace detail
}  // namespace rclcpp
