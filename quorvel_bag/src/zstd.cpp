#include "zstd.hpp"

#include <zstd.h>

#include <fstream>
#include <memory>
#include <string>

namespace quorvel_bag::detail
{

namespace
{

struct StreamDeleter
{
  void operator()(ZSTD_DStream * stream) const { ZSTD_freeDStream(stream); }
};

}  // namespace

void decompress_file(
    const std::filesystem::path & from, const std::filesystem::path & to, std::uint64_t limit)
{
  std::ifstream in(from, std::ios::binary);
  if (!in) {
    throw ZstdError("cannot open " + from.filename().string());
  }
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw ZstdError("cannot write its decompressed copy " + to.string());
  }
  std::unique_ptr<ZSTD_DStream, StreamDeleter> stream(ZSTD_createDStream());
  if (!stream || ZSTD_isError(ZSTD_initDStream(stream.get()))) {
    throw ZstdError("cannot start zstd");
  }
  std::vector<char> input(ZSTD_DStreamInSize());
  std::vector<char> output(ZSTD_DStreamOutSize());
  std::uint64_t written = 0;
  std::size_t last = 0;  // 0 once a frame is complete
  bool any = false;
  while (in) {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) {
      break;
    }
    any = true;
    ZSTD_inBuffer source{input.data(), got, 0};
    while (source.pos < source.size) {
      ZSTD_outBuffer sink{output.data(), output.size(), 0};
      last = ZSTD_decompressStream(stream.get(), &sink, &source);
      if (ZSTD_isError(last)) {
        throw ZstdError(
            from.filename().string() + " is not a whole zstd stream: " + ZSTD_getErrorName(last));
      }
      written += sink.pos;
      if (written > limit) {
        throw ZstdError(
            from.filename().string() + " decompresses to more than " + std::to_string(limit) +
            " bytes");
      }
      out.write(output.data(), static_cast<std::streamsize>(sink.pos));
    }
  }
  if (!any || last != 0) {
    throw ZstdError(from.filename().string() + " ends in the middle of its zstd stream");
  }
  out.flush();
  if (!out) {
    throw ZstdError("cannot write its decompressed copy " + to.string() + " (disk full?)");
  }
}

std::vector<std::uint8_t> decompress_bytes(
    const std::uint8_t * data, std::size_t size, std::size_t limit)
{
  const unsigned long long declared = ZSTD_getFrameContentSize(data, size);
  if (declared == ZSTD_CONTENTSIZE_ERROR) {
    throw ZstdError("not a zstd frame");
  }
  if (declared != ZSTD_CONTENTSIZE_UNKNOWN) {
    if (declared > limit) {
      throw ZstdError("a frame of " + std::to_string(declared) + " bytes, more than allowed");
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(declared));
    const std::size_t n = ZSTD_decompress(out.data(), out.size(), data, size);
    if (ZSTD_isError(n) || n != out.size()) {
      throw ZstdError(
          std::string("a damaged zstd frame: ") +
          (ZSTD_isError(n) ? ZSTD_getErrorName(n) : "short"));
    }
    return out;
  }
  // No size in the frame header: streamed, bounded by the limit.
  std::unique_ptr<ZSTD_DStream, StreamDeleter> stream(ZSTD_createDStream());
  if (!stream || ZSTD_isError(ZSTD_initDStream(stream.get()))) {
    throw ZstdError("cannot start zstd");
  }
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> chunk(ZSTD_DStreamOutSize());
  ZSTD_inBuffer source{data, size, 0};
  std::size_t last = 1;
  while (source.pos < source.size) {
    ZSTD_outBuffer sink{chunk.data(), chunk.size(), 0};
    last = ZSTD_decompressStream(stream.get(), &sink, &source);
    if (ZSTD_isError(last)) {
      throw ZstdError(std::string("a damaged zstd frame: ") + ZSTD_getErrorName(last));
    }
    if (out.size() + sink.pos > limit) {
      throw ZstdError("a frame larger than allowed");
    }
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(sink.pos));
  }
  if (last != 0) {
    throw ZstdError("a zstd frame cut short");
  }
  return out;
}

}  // namespace quorvel_bag::detail
