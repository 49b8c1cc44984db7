#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp_cdr/codec.hpp"

#include "dds/dds.hpp"
#include "dds/endpoint.hpp"
#include "dds/participant_impl.hpp"
#include "dds/qos.hpp"
#include "dds/sertype.hpp"
#include "dds/service_header.hpp"

namespace rclcpp
{
namespace dds
{

struct Reader::Impl
{
  std::shared_ptr<Participant> participant;
  std::string topic_name;
  const MessageMembers * members = nullptr;
  bool service_prefix = false;
  dds_entity_t reader = 0;
  dds_entity_t read_condition = 0;
  uint64_t instance_handle = 0;
  Gid gid{};

  /// Creates the reader and its read condition on `topic`; throws DdsError.
  void create(
      Participant::Impl & p,
      const TopicEntry & topic,
      const rmw_qos_profile_t & qos,
      const std::string & user_data,
      bool ignore_local);

  /// Takes one sample and hands its payload to `consume(data, size, result)`; always releases
  /// the sample, whatever happens.
  template <typename Consume>
  TakeResult take_one(Consume && consume);
};

template <typename Consume>
TakeResult Reader::Impl::take_one(Consume && consume)
{
  TakeResult result;
  ddsi_serdata * d = nullptr;
  dds_sample_info_t info;
  // One at a time through the serdata: a sample that does not decode is then ours to report,
  // where dds_take would hide the failure.
  const dds_return_t n = dds_takecdr(reader, &d, 1, &info, DDS_ANY_STATE);
  if (n <= 0 || d == nullptr) {
    result.status = TakeStatus::Empty;
    return result;
  }
  struct Release
  {
    ddsi_serdata * d;
    ~Release() { ddsi_serdata_unref(d); }
  } release{d};

  result.publication_handle = info.publication_handle;
  result.source_timestamp = info.source_timestamp;
  if (!info.valid_data) {
    result.status = TakeStatus::Skipped;
    return result;
  }
  std::vector<uint8_t> copy;
  const uint8_t * data = nullptr;
  size_t size = 0;
  if (const SerData * sd = as_serdata(d)) {
    data = sd->bytes.data();
    size = sd->size;
  } else {
    copy_payload(d, copy);
    data = copy.data();
    size = copy.size();
  }
  if (service_prefix && !get_service_header(data, size, result.header)) {
    result.status = TakeStatus::DecodeFailed;
    result.error =
        "payload of " + std::to_string(size) + " bytes is too short for a service header";
    return result;
  }
  consume(data, size, result);
  return result;
}

Reader::Reader(
    std::shared_ptr<Participant> participant,
    const std::string & topic_name,
    const MessageMembers * members,
    const rmw_qos_profile_t & qos,
    const std::string & user_data,
    bool service_prefix,
    bool ignore_local)
    : impl_(std::make_unique<Impl>())
{
  impl_->participant = std::move(participant);
  impl_->topic_name = topic_name;
  impl_->members = members;
  impl_->service_prefix = service_prefix;
  Participant::Impl & p = *impl_->participant->impl_;
  impl_->create(p, p.topic(topic_name, members, service_prefix), qos, user_data, ignore_local);
}

Reader::Reader(
    std::shared_ptr<Participant> participant,
    const std::string & topic_name,
    const std::string & type_name,
    const rmw_qos_profile_t & qos,
    bool ignore_local)
    : impl_(std::make_unique<Impl>())
{
  impl_->participant = std::move(participant);
  impl_->topic_name = topic_name;
  Participant::Impl & p = *impl_->participant->impl_;
  impl_->create(
      p, p.topic(topic_name, type_name, nullptr, false), qos, std::string(), ignore_local);
}

void Reader::Impl::create(
    Participant::Impl & p,
    const TopicEntry & topic,
    const rmw_qos_profile_t & qos,
    const std::string & user_data,
    bool ignore_local)
{
  const QosPtr dds_qos = make_endpoint_qos(qos, user_data, ignore_local);
  reader = checked(
      dds_create_reader(p.subscriber, topic.topic, dds_qos.get(), nullptr),
      "cannot create a DDS reader for '" + topic_name + "'");
  // Level-triggered on any stored sample, so a WaitSet keeps firing while samples remain.
  read_condition = dds_create_readcondition(reader, DDS_ANY_STATE);
  if (read_condition < 0) {
    const dds_return_t rc = read_condition;
    dds_delete(reader);
    throw_dds_error("cannot create a read condition for '" + topic_name + "'", rc);
  }
  instance_handle = entity_instance_handle(reader);
  gid = entity_gid(reader);
}

Reader::~Reader()
{
  // Deletes the read condition with it.
  dds_delete(impl_->reader);
}

TakeResult Reader::take(void * message)
{
  const MessageMembers * members = impl_->members;
  const size_t prefix = impl_->service_prefix ? kServiceHeaderSize : 0;
  return impl_->take_one([&](const uint8_t * data, size_t size, TakeResult & result) {
    if (members == nullptr) {
      result.status = TakeStatus::DecodeFailed;
      result.error = "this reader hands over serialized bytes only";
      return;
    }
    const rclcpp_cdr::DecodeResult decoded =
        rclcpp_cdr::deserialize(members, data, size, message, prefix);
    if (decoded) {
      result.status = TakeStatus::Taken;
    } else {
      result.status = TakeStatus::DecodeFailed;
      result.error = decoded.message();
    }
  });
}

TakeResult Reader::take_serialized(std::vector<uint8_t> & bytes)
{
  return impl_->take_one([&](const uint8_t * data, size_t size, TakeResult & result) {
    bytes.assign(data, data + size);
    result.status = TakeStatus::Taken;
  });
}

int32_t Reader::read_condition() const { return impl_->read_condition; }

int32_t Reader::entity() const { return impl_->reader; }

uint64_t Reader::instance_handle() const { return impl_->instance_handle; }

Gid Reader::gid() const { return impl_->gid; }

const std::string & Reader::topic_name() const { return impl_->topic_name; }

size_t Reader::matched_count() const
{
  return matched_endpoint_count(impl_->reader, EndpointKind::Reader);
}

std::vector<std::string> Reader::matched_user_data() const
{
  return matched_endpoint_user_data(impl_->reader, EndpointKind::Reader);
}

std::string Reader::matched_writer_user_data(uint64_t publication_handle) const
{
  return matched_endpoint_user_data(impl_->reader, EndpointKind::Reader, publication_handle);
}

}  // namespace dds
}  // namespace rclcpp
