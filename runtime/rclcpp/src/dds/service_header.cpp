#include "dds/service_header.hpp"

#include <atomic>
#include <cstring>

namespace rclcpp
{
namespace dds
{

namespace
{


uint64_t byte_swap(uint64_t v) { return __builtin_bswap64(v); }

}  // namespace

int64_t next_request_sequence()
{
  // Shared by every client of the process, as real ROS 2 nodes do: a service echoes it and the
  // client matches replies by it, so it only has to be unique per request writer.
  static std::atomic<int64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

void put_service_header(uint8_t * payload, const ServiceHeader & header)
{
  std::memcpy(payload + kEncapsulationSize, &header.guid, sizeof header.guid);
  std::memcpy(payload + kEncapsulationSize + 8, &header.seq, sizeof header.seq);
}

bool get_service_header(const uint8_t * payload, size_t size, ServiceHeader & header)
{
  if (size < kEncapsulationSize + kServiceHeaderSize) {
    return false;
  }
  uint64_t guid = 0;
  uint64_t seq = 0;
  std::memcpy(&guid, payload + kEncapsulationSize, sizeof guid);
  std::memcpy(&seq, payload + kEncapsulationSize + 8, sizeof seq);
  // Byte 1 of the encapsulation header is 1 for little-endian CDR; peers only look at that byte.
  const bool sample_little_endian = payload[1] == 0x01;
  if (sample_little_endian != kHostLittleEndian) {
    guid = byte_swap(guid);
    seq = byte_swap(seq);
  }
  header.guid = guid;
  header.seq = static_cast<int64_t>(seq);
  return true;
}

}  // namespace dds
}  // namespace rclcpp
