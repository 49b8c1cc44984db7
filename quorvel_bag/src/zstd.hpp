// zstd-compressed bags, as `ros2 bag record --compression-format zstd` writes them: in FILE mode
// each database file is one zstd stream, in MESSAGE mode each message's bytes are.
#ifndef QUORVEL_BAG__ZSTD_HPP_
#define QUORVEL_BAG__ZSTD_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace quorvel_bag::detail
{

// A compressed file or message that does not decompress; the text says why.
class ZstdError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// Decompresses the zstd file `from` into `to` (created or replaced), streaming, so a large
// database never sits in memory. Throws ZstdError for a damaged or truncated stream, or one
// that grows past `limit` bytes.
void decompress_file(
    const std::filesystem::path & from, const std::filesystem::path & to, std::uint64_t limit);

// Decompresses one zstd frame (a message's bytes). Throws ZstdError when they are not a whole
// zstd frame or would grow past `limit` bytes.
std::vector<std::uint8_t> decompress_bytes(
    const std::uint8_t * data, std::size_t size, std::size_t limit);

}  // namespace quorvel_bag::detail

#endif  // QUORVEL_BAG__ZSTD_HPP_
