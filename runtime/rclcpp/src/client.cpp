#include "rclcpp/client.hpp"

#include <set>

#include <dds/dds.h>

#include "dds/dds.hpp"
#include "entity_support.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp
{


ClientBase::ClientBase(
  const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
  const rosidl_service_type_support_t * type_support, const rmw_qos_profile_t & qos)
: node_(node), service_name_(node->resolve_topic_or_service_name(service_name, true))
{
  const auto members = detail::service_members(type_support);
  const std::string user_data = "clientid=" + node_->next_endpoint_id() + ";";
  request_writer_ = std::make_unique<dds::Writer>(
    node_->participant(),
    detail::dds_request_topic_name(service_name_, qos.avoid_ros_namespace_conventions),
    members.first, qos, user_data, true);
  // Every client of the service receives every reply and drops the others' when taking them;
  // a keep-last history could let those evict this client's own replies under a burst, so the
  // reader keeps all (bounded by the requests in flight). History is not part of QoS matching.
  rmw_qos_profile_t reply_qos = qos;
  reply_qos.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
  reply_reader_ = std::make_unique<dds::Reader>(
    node_->participant(),
    detail::dds_reply_topic_name(service_name_, qos.avoid_ros_namespace_conventions),
    members.second, reply_qos, user_data, true);
  node_->announce_writer(request_writer_->gid(), true);
  node_->announce_reader(reply_reader_->gid(), true);
}

ClientBase::~ClientBase()
{
  node_->announce_writer(request_writer_->gid(), false);
  node_->announce_reader(reply_reader_->gid(), false);
}

const char * ClientBase::get_service_name() const {return service_name_.c_str();}

int32_t ClientBase::condition(size_t) const {return reply_reader_->read_condition();}

std::string ClientBase::describe() const {return "client of '" + service_name_ + "'";}

bool ClientBase::service_is_ready() const
{
  // The server must be matched both ways, and when it announces a service id, its reply writer
  // must be one of the same server's endpoints.
  std::set<std::string> service_ids;
  size_t request_readers = 0;
  for (const auto & user_data : request_writer_->matched_user_data()) {
    ++request_readers;
    const std::string id = detail::user_data_entry("serviceid=", user_data);
    if (!id.empty()) {
      service_ids.insert(id);
    }
  }
  const auto reply_writers = reply_reader_->matched_user_data();
  if (service_ids.empty()) {
    return request_readers > 0 && !reply_writers.empty();
  }
  for (const auto & user_data : reply_writers) {
    if (service_ids.count(detail::user_data_entry("serviceid=", user_data)) != 0) {
      return true;
    }
  }
  return false;
}

bool ClientBase::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout)
{
  auto context = node_->get_context();
  if (service_is_ready()) {
    return true;
  }
  if (timeout == std::chrono::nanoseconds(0)) {
    return false;
  }
  dds::WaitSet waitset;
  dds::GuardCondition shutdown_guard;
  waitset.attach(request_writer_->entity(), 1, DDS_PUBLICATION_MATCHED_STATUS);
  waitset.attach(reply_reader_->entity(), 2, DDS_SUBSCRIPTION_MATCHED_STATUS);
  waitset.attach(shutdown_guard.entity(), 3);
  const uint64_t interrupt = context->add_interrupt([&shutdown_guard]() {shutdown_guard.trigger();});
  const bool forever = timeout < std::chrono::nanoseconds(0);
  const auto deadline = std::chrono::steady_clock::now() + (forever ? std::chrono::nanoseconds(0) : timeout);
  bool ready = false;
  while (context->is_valid()) {
    if (service_is_ready()) {
      ready = true;
      break;
    }
    std::chrono::nanoseconds wait(-1);
    if (!forever) {
      wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        deadline - std::chrono::steady_clock::now());
      if (wait <= std::chrono::nanoseconds(0)) {
        break;
      }
    }
    waitset.wait(wait);
  }
  context->remove_interrupt(interrupt);
  return ready;
}

int64_t ClientBase::send_request_type_erased(
  const void * request, const std::function<void(int64_t)> & register_pending)
{
  dds::ServiceHeader header;
  header.guid = request_writer_->instance_handle();
  header.seq = dds::next_request_sequence();
  register_pending(header.seq);
  if (!request_writer_->write(request, &header)) {
    throw exceptions::RCLError("failed to send request");
  }
  return header.seq;
}

void ClientBase::execute(size_t)
{
  while (true) {
    std::shared_ptr<void> response = create_response();
    dds::TakeResult result = reply_reader_->take(response.get());
    switch (result.status) {
      case dds::TakeStatus::Taken:
        if (result.header.guid != request_writer_->instance_handle()) {
          continue;  // a reply to another client of the same service
        }
        dispatch(result.header.seq, std::move(response));
        return;
      case dds::TakeStatus::Empty:
        return;
      case dds::TakeStatus::DecodeFailed:
        detail::warn_undecodable(
          node_->get_logger(), "reply topic of " + describe(), result.error,
          last_decode_warning_);
        continue;
      case dds::TakeStatus::Skipped:
        continue;
    }
  }
}

}  // namespace rclcpp
