// The custom Cyclone DDS sertype and serdata that carry ROS 2 messages as CDR bytes.
//
// A serdata is nothing but the serialized payload (encapsulation header included, zero-padded to
// a multiple of 4); the codec turns messages into those bytes on write and the Reader decodes
// them after dds_takecdr, so a bad sample surfaces as a value instead of vanishing inside
// Cyclone's take path. Every callback here runs on a Cyclone or application thread through a C
// function pointer and never lets an exception escape.
#ifndef RCLCPP__DDS__SERTYPE_HPP_
#define RCLCPP__DDS__SERTYPE_HPP_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dds/dds.h"
#include "dds/ddsi/ddsi_serdata.h"
#include "dds/ddsi/ddsi_sertype.h"

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

/// What a Writer hands to dds_write: Cyclone passes the pointer through untouched to
/// from_sample, so the service header travels next to the message without copying it.
struct SampleRef
{
  const MessageMembers * members = nullptr;
  const void * message = nullptr;
  const ServiceHeader * header = nullptr;
};

/// One per (DDS type name, service prefix) and domain: Cyclone interns equal sertypes, and two
/// sertypes are equal when their names (compared by Cyclone) and prefix flags match.
struct SerType : ddsi_sertype
{
  /// Used only by to_sample; writers bring their own members in SampleRef.
  const MessageMembers * members = nullptr;
  bool service_prefix = false;
};

struct SerData : ddsi_serdata
{
  /// Payload bytes, always sized to the next multiple of 4 of `size` and zero-padded there,
  /// because Cyclone's transmit path reads whole 4-byte words.
  std::vector<uint8_t> bytes;
  /// Payload size reported to Cyclone (encapsulation header included).
  uint32_t size = 0;
};

/// A new sertype holding one reference (the caller's). Throws std::bad_alloc.
SerType * make_sertype(
    const std::string & type_name, const MessageMembers * members, bool service_prefix);

/// The payload of a serdata of this module, or nullptr for a foreign or key-only serdata.
const SerData * as_serdata(const ddsi_serdata * d);

/// Copies the payload of any valid serdata (ours or a foreign one) into `out`.
void copy_payload(const ddsi_serdata * d, std::vector<uint8_t> & out);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__SERTYPE_HPP_
