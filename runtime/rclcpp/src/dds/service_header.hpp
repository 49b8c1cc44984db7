// Reading and writing the 16-byte request/reply header that follows the encapsulation header of
// every service payload.
#ifndef RCLCPP__DDS__SERVICE_HEADER_HPP_
#define RCLCPP__DDS__SERVICE_HEADER_HPP_

#include <cstddef>
#include <cstdint>

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

constexpr size_t kEncapsulationSize = 4;
constexpr size_t kServiceHeaderSize = 16;

/// Stores `header` in native byte order at offset 4 of `payload` (at least 20 bytes).
void put_service_header(uint8_t * payload, const ServiceHeader & header);

/// Reads the header of a payload of `size` bytes, byte-swapping when the encapsulation header
/// says the sender's order differs from ours. False if the payload is too short to hold it.
bool get_service_header(const uint8_t * payload, size_t size, ServiceHeader & header);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__SERVICE_HEADER_HPP_
