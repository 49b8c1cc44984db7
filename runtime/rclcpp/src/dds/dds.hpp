// The DDS layer of the runtime: one Cyclone DDS participant per context, readers and writers of
// ROS 2 topics (custom sertype whose bytes are produced and checked by the CDR codec), waitsets
// and guard conditions, and the graph announcements ROS 2 tools expect.
//
// Nothing here knows about rclcpp's API; the rclcpp layer builds publishers, subscriptions,
// clients, services and executors from these pieces. Every function may be called from any
// thread. Errors while creating entities throw DdsError with a message naming the entity; errors
// on received data are values (TakeResult), never exceptions.
#ifndef RCLCPP__DDS__DDS_HPP_
#define RCLCPP__DDS__DDS_HPP_

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "rmw/types.h"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace rclcpp
{
namespace dds
{

using MessageMembers = rosidl_typesupport_introspection_cpp::MessageMembers;

inline constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

/// Failure to create or configure a DDS entity.
class DdsError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// 24-byte ROS 2 Humble GID: the 16-byte DDS GUID followed by 8 zero bytes.
using Gid = std::array<uint8_t, 24>;

/// The 16-byte prefix of every service request and reply payload, as rmw_cyclonedds writes it.
struct ServiceHeader
{
  uint64_t guid = 0;  ///< the client's request-writer instance handle
  int64_t seq = 0;    ///< process-wide request sequence number
};

/// Domain configuration derived from the environment (ROS_DOMAIN_ID, ROS_LOCALHOST_ONLY,
/// CYCLONEDDS_URI). Loopback-only with unicast discovery unless the user opened it up.
struct DomainConfig
{
  uint32_t domain_id = 0;
  /// The XML/URI list given to dds_create_domain.
  std::string cyclone_config;
  /// From ROS_LOCALHOST_ONLY, CYCLONEDDS_URI and, when `read_domain_id`, ROS_DOMAIN_ID.
  /// Throws DdsError for a ROS_DOMAIN_ID that is not a domain id Cyclone can use.
  static DomainConfig from_environment(bool read_domain_id = true);
  /// Throws DdsError for a domain id Cyclone cannot bind the ports of (`what` names its source).
  static void check_domain_id(size_t domain_id, const std::string & what);
};

class Participant;
struct EndpointInfo;

/// Per-process sequence counter for service requests (starts at 1, like rmw_cyclonedds).
int64_t next_request_sequence();

/// A DDS topic writer carrying one ROS message type.
class Writer
{
public:
  /// `topic_name` is the full DDS topic name (e.g. "rt/chatter", "rq/add_two_intsRequest").
  /// `user_data` (e.g. "clientid=...;") is put on the writer's USER_DATA when not empty.
  /// `service_prefix`: payloads carry a ServiceHeader after the encapsulation header.
  /// `never_block`: a reliable write that would wait for readers to acknowledge (their history
  /// full) fails at once instead; readers see the same QoS.
  Writer(
      std::shared_ptr<Participant> participant,
      const std::string & topic_name,
      const MessageMembers * members,
      const rmw_qos_profile_t & qos,
      const std::string & user_data = {},
      bool service_prefix = false,
      bool never_block = false);
  ~Writer();
  Writer(const Writer &) = delete;
  Writer & operator=(const Writer &) = delete;

  /// Serialises and writes `message` (a pointer to the C++ message of `members`).
  /// `header` must be given iff the writer was created with service_prefix.
  /// Returns false (and logs nothing) when DDS refuses the write.
  bool write(const void * message, const ServiceHeader * header = nullptr);

  /// Writes a complete serialized payload (encapsulation header included) as it is.
  bool write_serialized(const uint8_t * data, size_t size);

  /// Waits until all written samples are acknowledged or the timeout expires.
  bool wait_for_acks(std::chrono::nanoseconds timeout);

  uint64_t instance_handle() const;
  Gid gid() const;
  const std::string & topic_name() const;
  /// DDS entity handle, to attach to a WaitSet for PUBLICATION_MATCHED status changes.
  int32_t entity() const;

  /// Number of currently matched readers.
  size_t matched_count() const;
  /// USER_DATA strings of the currently matched readers (empty string for none).
  std::vector<std::string> matched_user_data() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Outcome of taking one sample from a Reader.
enum class TakeStatus
{
  Taken,         ///< a valid sample was decoded into the message
  Empty,         ///< nothing left to take
  DecodeFailed,  ///< a sample was taken but did not decode; it is dropped (see error)
  Skipped,       ///< an invalid sample (writer gone etc.) or a filtered one was consumed
};

struct TakeResult
{
  TakeStatus status = TakeStatus::Empty;
  std::string error;                ///< the decoder's message for DecodeFailed
  ServiceHeader header;             ///< for service readers
  uint64_t publication_handle = 0;  ///< instance handle of the writer of the sample
  int64_t source_timestamp = 0;     ///< ns since the epoch
};

/// A DDS topic reader carrying one ROS message type.
class Reader
{
public:
  /// `ignore_local`: do not receive samples of writers of the same participant.
  Reader(
      std::shared_ptr<Participant> participant,
      const std::string & topic_name,
      const MessageMembers * members,
      const rmw_qos_profile_t & qos,
      const std::string & user_data = {},
      bool service_prefix = false,
      bool ignore_local = false);
  /// A reader of serialized bytes only (take_serialized), for a type known by its DDS type
  /// name ("std_msgs::msg::dds_::Bool_") rather than by its members.
  Reader(
      std::shared_ptr<Participant> participant,
      const std::string & topic_name,
      const std::string & type_name,
      const rmw_qos_profile_t & qos,
      bool ignore_local = false);
  ~Reader();
  Reader(const Reader &) = delete;
  Reader & operator=(const Reader &) = delete;

  /// Takes the oldest sample and decodes it into `message` (an already constructed C++ message
  /// of `members`). On DecodeFailed the message may be partly overwritten. A reader made from a
  /// type name reports DecodeFailed for every sample.
  TakeResult take(void * message);
  /// Takes the oldest sample's raw bytes (encapsulation header included).
  TakeResult take_serialized(std::vector<uint8_t> & bytes);

  /// Read condition that is triggered while samples are available; attach it to a WaitSet.
  int32_t read_condition() const;
  /// DDS entity handle, to attach to a WaitSet for SUBSCRIPTION_MATCHED status changes.
  int32_t entity() const;

  uint64_t instance_handle() const;
  Gid gid() const;
  const std::string & topic_name() const;
  size_t matched_count() const;
  std::vector<std::string> matched_user_data() const;
  /// USER_DATA of the matched writer with this instance handle (TakeResult::publication_handle),
  /// e.g. a request writer's "clientid=...;". Empty when it has none or is no longer matched.
  std::string matched_writer_user_data(uint64_t publication_handle) const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// A guard condition that wakes a WaitSet when triggered. It stays triggered until taken.
/// Any thread; trigger() is cheap and never blocks.
class GuardCondition
{
public:
  /// Throws DdsError if Cyclone cannot create it.
  GuardCondition();
  ~GuardCondition();
  GuardCondition(const GuardCondition &) = delete;
  GuardCondition & operator=(const GuardCondition &) = delete;
  void trigger();
  /// Returns whether it was triggered and resets it.
  bool take();
  int32_t entity() const;

private:
  int32_t handle_;
};

/// A waitset owned by the whole Cyclone library (entities of any participant may be attached).
/// It always holds a never-triggered guard condition, so an empty set still sleeps.
class WaitSet
{
public:
  WaitSet();
  ~WaitSet();
  WaitSet(const WaitSet &) = delete;
  WaitSet & operator=(const WaitSet &) = delete;

  /// Attaches a condition or entity; `key` is what wait() reports when it fires.
  /// For a writer/reader entity, `status_mask` (DDS_*_STATUS bits) restricts what triggers it;
  /// the mask is set on the entity itself, so WaitSets watching the same entity must use the
  /// same mask, and a wake in one of them resets the status for all.
  /// Throws DdsError if the entity cannot be attached (e.g. already attached, or deleted).
  void attach(int32_t entity, intptr_t key, uint32_t status_mask = 0);
  /// Detaches; detaching something not attached is a no-op. Entities deleted while attached
  /// are detached by Cyclone.
  void detach(int32_t entity);
  /// Blocks until something attached fires or the timeout passes (negative = forever).
  /// Returns the keys of the triggered entities (empty on timeout). Resets the status bits of
  /// attached writer/reader entities so that a status change fires once. Guard conditions stay
  /// triggered until taken, read conditions while samples remain. Any thread, but one waiter at
  /// a time; attach/detach may run concurrently with a wait.
  std::vector<intptr_t> wait(std::chrono::nanoseconds timeout);

private:
  struct Attachment
  {
    int32_t entity;
    intptr_t key;
    uint32_t status_mask;
  };

  int32_t handle_;
  int32_t idle_guard_;
  std::mutex mutex_;
  std::vector<Attachment> attachments_;  // guarded by mutex_
};

/// One DDS participant (per rclcpp context), with the publisher and subscriber that all its
/// writers and readers use, and the `ros_discovery_info` announcement of its nodes.
class Participant : public std::enable_shared_from_this<Participant>
{
public:
  /// Creates the domain (from `config`) and the participant with USER_DATA "enclave=/;". A
  /// domain id already in use in this process keeps the configuration it was created with; the
  /// domain is deleted with its last participant. Blocks while Cyclone sets up sockets and
  /// threads; throws DdsError (Cyclone prints its reason on stderr).
  static std::shared_ptr<Participant> create(const DomainConfig & config);
  ~Participant();
  Participant(const Participant &) = delete;
  Participant & operator=(const Participant &) = delete;

  int32_t handle() const;
  int32_t publisher() const;
  int32_t subscriber() const;
  Gid gid() const;

  /// Unique id text for a new client or service endpoint pair ("clientid=<id>;" uses it).
  std::string next_endpoint_id();

  /// Node bookkeeping for ros_discovery_info: every change republishes the complete list.
  /// Returns a node key used by the calls below.
  uint64_t add_node(const std::string & name, const std::string & namespace_);
  void remove_node(uint64_t node_key);
  void add_reader(uint64_t node_key, const Gid & gid);
  void add_writer(uint64_t node_key, const Gid & gid);
  void remove_reader(uint64_t node_key, const Gid & gid);
  void remove_writer(uint64_t node_key, const Gid & gid);

  /// Finds or creates the DDS topic with this name and type (sertype shared per type).
  int32_t topic(
      const std::string & topic_name, const MessageMembers * members, bool service_prefix);

private:
  Participant() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend class Writer;
  friend class Reader;
  friend std::vector<EndpointInfo> publications_on_topic(
      Participant & participant, const std::string & topic_name);
  friend std::vector<EndpointInfo> subscriptions_on_topic(
      Participant & participant, const std::string & topic_name);
};

/// DDS type name of a message type: "<pkg>::<sub>::dds_::<Name>_".
std::string dds_type_name(const MessageMembers * members);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__DDS_HPP_
