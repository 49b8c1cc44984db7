#include <iomanip>
#include <memory>
#include <sstream>
#include <string>

#include "dds/dds.hpp"
#include "dds/domain.hpp"
#include "dds/endpoint.hpp"
#include "dds/participant_impl.hpp"
#include "dds/qos.hpp"

namespace rclcpp
{
namespace dds
{

TopicEntry Participant::Impl::topic(
    const std::string & topic_name, const MessageMembers * members, bool service_prefix)
{
  return topic(topic_name, dds_type_name(members), members, service_prefix);
}

TopicEntry Participant::Impl::topic(
    const std::string & topic_name,
    const std::string & type_name,
    const MessageMembers * members,
    bool service_prefix)
{
  std::lock_guard<std::mutex> lock(topics_mutex_);
  const auto key = std::make_tuple(topic_name, type_name, service_prefix);
  auto it = topics_.find(key);
  if (it != topics_.end()) {
    return it->second;
  }
  SerType * created = make_sertype(type_name, members, service_prefix);
  ddsi_sertype * used = created;
  // On success Cyclone owns the sertype and may hand back an equal one it already had (freeing
  // ours); on failure it is still ours to drop.
  const dds_entity_t topic =
      dds_create_topic_sertype(participant, topic_name.c_str(), &used, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(created);
    throw_dds_error("cannot create DDS topic '" + topic_name + "' of type " + type_name, topic);
  }
  TopicEntry entry{topic, static_cast<SerType *>(used)};
  topics_.emplace(key, entry);
  return entry;
}

std::shared_ptr<Participant> Participant::create(const DomainConfig & config)
{
  std::shared_ptr<Participant> self(new Participant());
  self->impl_ = std::make_unique<Impl>();
  Impl & impl = *self->impl_;
  impl.domain_id = config.domain_id;
  acquire_domain(config);
  impl.domain_acquired = true;
  // From here on a throw destroys `self`, whose destructor undoes what was done.

  QosPtr qos(dds_create_qos());
  static constexpr char kEnclave[] = "enclave=/;";
  dds_qset_userdata(qos.get(), kEnclave, sizeof kEnclave - 1);
  impl.participant = checked(
      dds_create_participant(config.domain_id, qos.get(), nullptr),
      "cannot create a DDS participant in domain " + std::to_string(config.domain_id));
  impl.publisher = checked(
      dds_create_publisher(impl.participant, nullptr, nullptr), "cannot create a DDS publisher");
  impl.subscriber = checked(
      dds_create_subscriber(impl.participant, nullptr, nullptr), "cannot create a DDS subscriber");
  impl.gid = entity_gid(impl.participant);

  const TopicEntry info_topic = impl.topic(kDiscoveryInfoTopic, discovery_info_members(), false);
  const QosPtr info_qos = make_endpoint_qos(discovery_info_qos());
  const dds_entity_t info_writer = checked(
      dds_create_writer(impl.publisher, info_topic.topic, info_qos.get(), nullptr),
      std::string("cannot create the ") + kDiscoveryInfoTopic + " writer");
  impl.discovery = std::make_unique<DiscoveryInfo>(info_writer, impl.gid);
  return self;
}

Participant::~Participant()
{
  if (!impl_) {
    return;
  }
  impl_->discovery.reset();
  // Deletes every child too. Sertypes are released by Cyclone, possibly later on its gc thread;
  // they own everything they refer to, so nothing of ours has to outlive this.
  if (impl_->participant > 0) {
    dds_delete(impl_->participant);
  }
  if (impl_->domain_acquired) {
    release_domain(impl_->domain_id);
  }
}

int32_t Participant::handle() const { return impl_->participant; }

int32_t Participant::publisher() const { return impl_->publisher; }

int32_t Participant::subscriber() const { return impl_->subscriber; }

Gid Participant::gid() const { return impl_->gid; }

std::string Participant::next_endpoint_id()
{
  // The participant's 12-byte GUID prefix and a big-endian per-participant counter, printed the
  // way real ROS 2 nodes print it; peers only compare the text for equality.
  const uint32_t n = impl_->endpoint_counter.fetch_add(1, std::memory_order_relaxed) + 1;
  uint8_t id[16];
  for (size_t i = 0; i < 12; ++i) {
    id[i] = impl_->gid[i];
  }
  id[12] = static_cast<uint8_t>(n >> 24);
  id[13] = static_cast<uint8_t>(n >> 16);
  id[14] = static_cast<uint8_t>(n >> 8);
  id[15] = static_cast<uint8_t>(n);
  std::ostringstream text;
  text << std::hex << std::setw(2) << static_cast<unsigned>(id[0]);
  for (size_t i = 1; i < sizeof id; ++i) {
    text << '.' << static_cast<unsigned>(id[i]);
  }
  return text.str();
}

uint64_t Participant::add_node(const std::string & name, const std::string & namespace_)
{
  return impl_->discovery->add_node(name, namespace_);
}

void Participant::remove_node(uint64_t node_key) { impl_->discovery->remove_node(node_key); }

void Participant::add_reader(uint64_t node_key, const Gid & gid)
{
  impl_->discovery->add_reader(node_key, gid);
}

void Participant::add_writer(uint64_t node_key, const Gid & gid)
{
  impl_->discovery->add_writer(node_key, gid);
}

void Participant::remove_reader(uint64_t node_key, const Gid & gid)
{
  impl_->discovery->remove_reader(node_key, gid);
}

void Participant::remove_writer(uint64_t node_key, const Gid & gid)
{
  impl_->discovery->remove_writer(node_key, gid);
}

int32_t Participant::topic(
    const std::string & topic_name, const MessageMembers * members, bool service_prefix)
{
  return impl_->topic(topic_name, members, service_prefix).topic;
}

}  // namespace dds
}  // namespace rclcpp
