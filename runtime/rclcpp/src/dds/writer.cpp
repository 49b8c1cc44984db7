#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dds/dds.hpp"
#include "dds/endpoint.hpp"
#include "dds/participant_impl.hpp"
#include "dds/qos.hpp"
#include "dds/sertype.hpp"

namespace rclcpp
{
namespace dds
{

struct Writer::Impl
{
  std::shared_ptr<Participant> participant;
  std::string topic_name;
  const MessageMembers * members = nullptr;
  bool service_prefix = false;
  SerType * sertype = nullptr;
  dds_entity_t writer = 0;
  uint64_t instance_handle = 0;
  Gid gid{};
};

Writer::Writer(
    std::shared_ptr<Participant> participant,
    const std::string & topic_name,
    const MessageMembers * members,
    const rmw_qos_profile_t & qos,
    const std::string & user_data,
    bool service_prefix,
    bool never_block)
    : impl_(std::make_unique<Impl>())
{
  impl_->participant = std::move(participant);
  impl_->topic_name = topic_name;
  impl_->members = members;
  impl_->service_prefix = service_prefix;
  Participant::Impl & p = *impl_->participant->impl_;
  const TopicEntry topic = p.topic(topic_name, members, service_prefix);
  impl_->sertype = topic.sertype;
  const QosPtr dds_qos = make_endpoint_qos(qos, user_data);
  dds_reliability_kind_t reliability = DDS_RELIABILITY_BEST_EFFORT;
  dds_duration_t max_blocking_time = 0;
  if (never_block && dds_qget_reliability(dds_qos.get(), &reliability, &max_blocking_time)) {
    // Only the writer reads max_blocking_time; matching ignores it.
    dds_qset_reliability(dds_qos.get(), reliability, 0);
  }
  impl_->writer = checked(
      dds_create_writer(p.publisher, topic.topic, dds_qos.get(), nullptr),
      "cannot create a DDS writer for '" + topic_name + "'");
  impl_->instance_handle = entity_instance_handle(impl_->writer);
  impl_->gid = entity_gid(impl_->writer);
}

Writer::~Writer() { dds_delete(impl_->writer); }

bool Writer::write(const void * message, const ServiceHeader * header)
{
  if (message == nullptr || (header != nullptr) != impl_->service_prefix) {
    return false;
  }
  const SampleRef sample{impl_->members, message, header};
  return dds_write(impl_->writer, &sample) == DDS_RETCODE_OK;
}

bool Writer::write_serialized(const uint8_t * data, size_t size)
{
  if (data == nullptr) {
    return false;
  }
  ddsrt_iovec_t iov;
  iov.iov_base = const_cast<uint8_t *>(data);
  iov.iov_len = static_cast<decltype(iov.iov_len)>(size);
  ddsi_serdata * d = ddsi_serdata_from_ser_iov(impl_->sertype, SDK_DATA, 1, &iov, size);
  if (d == nullptr) {
    return false;
  }
  // dds_writecdr consumes the reference whatever the outcome.
  return dds_writecdr(impl_->writer, d) == DDS_RETCODE_OK;
}

bool Writer::wait_for_acks(std::chrono::nanoseconds timeout)
{
  const dds_duration_t t = timeout.count() < 0 ? DDS_INFINITY : timeout.count();
  return dds_wait_for_acks(impl_->writer, t) == DDS_RETCODE_OK;
}

uint64_t Writer::instance_handle() const { return impl_->instance_handle; }

Gid Writer::gid() const { return impl_->gid; }

const std::string & Writer::topic_name() const { return impl_->topic_name; }

int32_t Writer::entity() const { return impl_->writer; }

size_t Writer::matched_count() const
{
  return matched_endpoint_count(impl_->writer, EndpointKind::Writer);
}

std::vector<std::string> Writer::matched_user_data() const
{
  return matched_endpoint_user_data(impl_->writer, EndpointKind::Writer);
}

}  // namespace dds
}  // namespace rclcpp
