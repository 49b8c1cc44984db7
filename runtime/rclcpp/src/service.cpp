#include "rclcpp/service.hpp"

#include <cstring>

#include <dds/dds.h>

#include "dds/dds.hpp"
#include "entity_support.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp
{


ServiceBase::ServiceBase(
  const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
  const rosidl_service_type_support_t * type_support, const rmw_qos_profile_t & qos)
: node_(node), service_name_(node->resolve_topic_or_service_name(service_name, true))
{
  const auto members = detail::service_members(type_support);
  const std::string user_data = "serviceid=" + node_->next_endpoint_id() + ";";
  request_reader_ = std::make_unique<dds::Reader>(
    node_->participant(),
    detail::dds_request_topic_name(service_name_, qos.avoid_ros_namespace_conventions),
    members.first, qos, user_data, true);
  reply_writer_ = std::make_unique<dds::Writer>(
    node_->participant(),
    detail::dds_reply_topic_name(service_name_, qos.avoid_ros_namespace_conventions),
    members.second, qos, user_data, true);
  node_->announce_reader(request_reader_->gid(), true);
  node_->announce_writer(reply_writer_->gid(), true);
}

ServiceBase::~ServiceBase()
{
  node_->announce_reader(request_reader_->gid(), false);
  node_->announce_writer(reply_writer_->gid(), false);
}

const char * ServiceBase::get_service_name() {return service_name_.c_str();}

int32_t ServiceBase::condition(size_t) const {return request_reader_->read_condition();}

std::string ServiceBase::describe() const {return "service '" + service_name_ + "'";}

void ServiceBase::execute(size_t)
{
  while (true) {
    std::shared_ptr<void> request = create_request();
    dds::TakeResult result = request_reader_->take(request.get());
    switch (result.status) {
      case dds::TakeStatus::Taken: {
          auto id = std::make_shared<rmw_request_id_t>();
          std::memcpy(id->writer_guid, &result.header.guid, 8);
          std::memcpy(id->writer_guid + 8, &result.publication_handle, 8);
          id->sequence_number = result.header.seq;
          dispatch(id, std::move(request));
          return;
        }
      case dds::TakeStatus::Empty:
        return;
      case dds::TakeStatus::DecodeFailed:
        detail::warn_undecodable(
          node_->get_logger(), "request topic of " + describe(), result.error,
          last_decode_warning_);
        continue;
      case dds::TakeStatus::Skipped:
        continue;
    }
  }
}

bool ServiceBase::send_response_type_erased(
  const rmw_request_id_t & request_id, const void * response)
{
  dds::ServiceHeader header;
  std::memcpy(&header.guid, request_id.writer_guid, 8);
  header.seq = request_id.sequence_number;
  uint64_t publication_handle = 0;
  std::memcpy(&publication_handle, request_id.writer_guid + 8, 8);

  // A reply written before the client's reply reader is matched would be lost (volatile), so
  // wait for that match, event driven and bounded, when the client announced its id. Once seen,
  // a client stays confirmed: looking endpoints up costs more than the reply itself.
  bool confirmed = false;
  {
    std::lock_guard<std::mutex> lock(confirmed_mutex_);
    confirmed = confirmed_request_writers_.count(publication_handle) != 0;
  }
  const std::string client_id = confirmed ? std::string() :
    detail::user_data_entry(
    "clientid=", request_reader_->matched_writer_user_data(publication_handle));
  if (!client_id.empty()) {
    const auto reader_matched = [this, &client_id]() {
        for (const auto & user_data : reply_writer_->matched_user_data()) {
          if (user_data.find(client_id) != std::string::npos) {
            return true;
          }
        }
        return false;
      };
    if (!reader_matched()) {
      dds::WaitSet waitset;
      waitset.attach(reply_writer_->entity(), 1, DDS_PUBLICATION_MATCHED_STATUS);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      while (!reader_matched()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds(0)) {
          RCLCPP_WARN(
            node_->get_logger(), "failed to send response to %s (timeout): the client's reply "
            "reader is not matched", service_name_.c_str());
          return false;
        }
        waitset.wait(std::chrono::duration_cast<std::chrono::nanoseconds>(left));
      }
    }
    std::lock_guard<std::mutex> lock(confirmed_mutex_);
    if (confirmed_request_writers_.size() > 1024) {
      confirmed_request_writers_.clear();
    }
    confirmed_request_writers_.insert(publication_handle);
  }
  if (!reply_writer_->write(response, &header)) {
    RCLCPP_WARN(node_->get_logger(), "failed to send response to %s", service_name_.c_str());
    return false;
  }
  return true;
}

}  // namespace rclcpp
