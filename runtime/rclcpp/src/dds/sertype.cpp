#include "dds/sertype.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "dds/ddsi/q_radmin.h"
#include "rclcpp_cdr/codec.hpp"

#include "dds/service_header.hpp"

namespace rclcpp
{
namespace dds
{

namespace
{

// Payload sizes travel as uint32_t and are rounded up to a multiple of 4.
constexpr size_t kMaxPayload = std::numeric_limits<uint32_t>::max() - 3u;

size_t align4(size_t n) { return (n + 3u) & ~size_t{3u}; }

const ddsi_sertype_ops & sertype_ops();
const ddsi_serdata_ops & serdata_ops();

/// A serdata of `size` zero bytes; throws std::bad_alloc.
std::unique_ptr<SerData> new_serdata(const ddsi_sertype * type, ddsi_serdata_kind kind, size_t size)
{
  auto d = std::make_unique<SerData>();
  ddsi_serdata_init(d.get(), type, kind);
  d->size = static_cast<uint32_t>(size);
  d->bytes.assign(align4(size), 0);
  return d;
}

/// Keyless topics have no key bytes: a key-only serdata is just an encapsulation header.
std::unique_ptr<SerData> new_key_serdata(const ddsi_sertype * type)
{
  auto d = new_serdata(type, SDK_KEY, 4);
  d->bytes[1] = kHostLittleEndian ? 0x01 : 0x00;
  return d;
}

// ---- serdata operations ----

bool serdata_eqkey(const ddsi_serdata *, const ddsi_serdata *) { return true; }

uint32_t serdata_get_size(const ddsi_serdata * d) { return static_cast<const SerData *>(d)->size; }

ddsi_serdata * serdata_from_ser(
    const ddsi_sertype * type, ddsi_serdata_kind kind, const nn_rdata * fragchain, size_t size)
{
  // No validation here: this runs on the receive thread, and a payload rejected here would be
  // dropped silently by Cyclone. The Reader decodes it and reports what is wrong.
  try {
    if (size > kMaxPayload) {
      return nullptr;
    }
    auto d = new_serdata(type, kind, size);
    // Fragments arrive in order and may overlap; copy only what extends the bytes we have.
    uint32_t have = 0;
    for (const nn_rdata * frag = fragchain; frag != nullptr; frag = frag->nextfrag) {
      if (frag->min > have) {
        return nullptr;  // a hole; Cyclone hands over complete samples only
      }
      const uint32_t end = std::min<uint32_t>(frag->maxp1, static_cast<uint32_t>(size));
      if (end > have) {
        const unsigned char * src = NN_RMSG_PAYLOADOFF(frag->rmsg, NN_RDATA_PAYLOAD_OFF(frag));
        std::memcpy(d->bytes.data() + have, src + (have - frag->min), end - have);
        have = end;
      }
    }
    if (have != size) {
      return nullptr;
    }
    return d.release();
  } catch (...) {
    return nullptr;
  }
}

ddsi_serdata * serdata_from_ser_iov(
    const ddsi_sertype * type,
    ddsi_serdata_kind kind,
    ddsrt_msg_iovlen_t niov,
    const ddsrt_iovec_t * iov,
    size_t size)
{
  try {
    if (size > kMaxPayload) {
      return nullptr;
    }
    auto d = new_serdata(type, kind, size);
    size_t off = 0;
    for (ddsrt_msg_iovlen_t i = 0; i < niov && off < size; ++i) {
      const size_t n = std::min<size_t>(iov[i].iov_len, size - off);
      std::memcpy(d->bytes.data() + off, iov[i].iov_base, n);
      off += n;
    }
    return d.release();
  } catch (...) {
    return nullptr;
  }
}

ddsi_serdata * serdata_from_keyhash(const ddsi_sertype * type, const ddsi_keyhash *)
{
  try {
    return new_key_serdata(type).release();
  } catch (...) {
    return nullptr;
  }
}

ddsi_serdata * serdata_from_sample(
    const ddsi_sertype * type, ddsi_serdata_kind kind, const void * sample)
{
  try {
    if (kind != SDK_DATA) {
      return new_key_serdata(type).release();
    }
    const auto * st = static_cast<const SerType *>(type);
    const auto * ref = static_cast<const SampleRef *>(sample);
    const MessageMembers * members = ref->members != nullptr ? ref->members : st->members;
    if (members == nullptr || ref->message == nullptr) {
      return nullptr;
    }
    const size_t prefix = st->service_prefix ? kServiceHeaderSize : 0;
    std::vector<uint8_t> out;
    rclcpp_cdr::serialize(members, ref->message, out, prefix);
    if (out.size() > kMaxPayload || out.size() < kEncapsulationSize + prefix) {
      return nullptr;
    }
    if (prefix != 0) {
      put_service_header(out.data(), ref->header != nullptr ? *ref->header : ServiceHeader{});
    }
    auto d = std::make_unique<SerData>();
    ddsi_serdata_init(d.get(), type, SDK_DATA);
    d->size = static_cast<uint32_t>(out.size());
    out.resize(align4(out.size()), 0);
    d->bytes = std::move(out);
    return d.release();
  } catch (...) {
    return nullptr;
  }
}

void serdata_to_ser(const ddsi_serdata * d, size_t off, size_t sz, void * buf)
{
  const auto & bytes = static_cast<const SerData *>(d)->bytes;
  const size_t avail = off < bytes.size() ? std::min(sz, bytes.size() - off) : 0;
  if (avail != 0) {
    std::memcpy(buf, bytes.data() + off, avail);
  }
  if (avail < sz) {
    std::memset(static_cast<unsigned char *>(buf) + avail, 0, sz - avail);
  }
}

ddsi_serdata * serdata_to_ser_ref(
    const ddsi_serdata * d, size_t off, size_t sz, ddsrt_iovec_t * ref)
{
  // Called concurrently from the writer, tev and receive threads: read-only access to bytes
  // that never change after construction, plus an atomic reference.
  const auto & bytes = static_cast<const SerData *>(d)->bytes;
  ref->iov_base = const_cast<uint8_t *>(bytes.data()) + off;
  ref->iov_len = static_cast<decltype(ref->iov_len)>(sz);
  return ddsi_serdata_ref(d);
}

void serdata_to_ser_unref(ddsi_serdata * d, const ddsrt_iovec_t *) { ddsi_serdata_unref(d); }

bool serdata_to_sample(const ddsi_serdata * d, void * sample, void **, void *)
{
  // Only reached through dds_read/dds_take, which this runtime does not use; `sample` is a
  // message of the sertype's members.
  try {
    if (d->kind != SDK_DATA) {
      return true;
    }
    const auto * st = static_cast<const SerType *>(d->type);
    if (st == nullptr || st->members == nullptr || sample == nullptr) {
      return false;
    }
    const auto * sd = static_cast<const SerData *>(d);
    const size_t prefix = st->service_prefix ? kServiceHeaderSize : 0;
    return static_cast<bool>(
        rclcpp_cdr::deserialize(st->members, sd->bytes.data(), sd->size, sample, prefix));
  } catch (...) {
    return false;
  }
}

ddsi_serdata * serdata_to_untyped(const ddsi_serdata * d)
{
  try {
    auto u = new_key_serdata(d->type);
    // The instance map outlives topics and their sertypes.
    u->type = nullptr;
    return u.release();
  } catch (...) {
    return nullptr;
  }
}

bool serdata_untyped_to_sample(const ddsi_sertype *, const ddsi_serdata *, void *, void **, void *)
{
  return true;
}

void serdata_free(ddsi_serdata * d) { delete static_cast<SerData *>(d); }

size_t serdata_print(const ddsi_sertype *, const ddsi_serdata * d, char * buf, size_t size)
{
  const auto * sd = static_cast<const SerData *>(d);
  const int n = std::snprintf(buf, size, "%" PRIu32 " bytes of CDR", sd->size);
  if (n < 0) {
    if (size > 0) {
      buf[0] = '\0';
    }
    return 0;
  }
  return static_cast<size_t>(n);
}

void serdata_get_keyhash(const ddsi_serdata *, ddsi_keyhash * buf, bool)
{
  std::memset(buf->value, 0, sizeof buf->value);
}

// ---- sertype operations ----

void sertype_free(ddsi_sertype * tp)
{
  // May run on Cyclone's gc thread after the last topic/reader/writer using it is gone.
  ddsi_sertype_fini(tp);
  delete static_cast<SerType *>(tp);
}

void sertype_zero_samples(const ddsi_sertype *, void *, size_t) {}

void sertype_realloc_samples(void **, const ddsi_sertype *, void *, size_t, size_t)
{
  // Only loans, query conditions, content filters and instance-handle calls allocate samples,
  // and this runtime uses none of them: reaching this is a programming error.
  std::fputs("rclcpp dds: unexpected sample allocation request from Cyclone DDS\n", stderr);
  std::abort();
}

void sertype_free_samples(const ddsi_sertype *, void **, size_t, dds_free_op_t)
{
  // The samples are the application's C++ objects; their owner destroys them.
}

bool sertype_equal(const ddsi_sertype * a, const ddsi_sertype * b)
{
  return static_cast<const SerType *>(a)->service_prefix ==
         static_cast<const SerType *>(b)->service_prefix;
}

uint32_t sertype_hash(const ddsi_sertype * tp)
{
  return static_cast<const SerType *>(tp)->service_prefix ? 0x5e41ce5u : 0x70b1cu;
}

ddsi_sertype_ops make_sertype_ops()
{
  ddsi_sertype_ops ops{};
  ops.version = ddsi_sertype_v0;
  ops.arg = nullptr;
  ops.free = sertype_free;
  ops.zero_samples = sertype_zero_samples;
  ops.realloc_samples = sertype_realloc_samples;
  ops.free_samples = sertype_free_samples;
  ops.equal = sertype_equal;
  ops.hash = sertype_hash;
  // No type information: matching compares type names, as with real ROS 2 nodes. No
  // serialize_into either, which keeps iceoryx away from these topics.
  ops.type_id = nullptr;
  ops.type_map = nullptr;
  ops.type_info = nullptr;
  ops.derive_sertype = nullptr;
  ops.get_serialized_size = nullptr;
  ops.serialize_into = nullptr;
  return ops;
}

ddsi_serdata_ops make_serdata_ops()
{
  ddsi_serdata_ops ops{};
  ops.eqkey = serdata_eqkey;
  ops.get_size = serdata_get_size;
  ops.from_ser = serdata_from_ser;
  ops.from_ser_iov = serdata_from_ser_iov;
  ops.from_keyhash = serdata_from_keyhash;
  ops.from_sample = serdata_from_sample;
  ops.to_ser = serdata_to_ser;
  ops.to_ser_ref = serdata_to_ser_ref;
  ops.to_ser_unref = serdata_to_ser_unref;
  ops.to_sample = serdata_to_sample;
  ops.to_untyped = serdata_to_untyped;
  ops.untyped_to_sample = serdata_untyped_to_sample;
  ops.free = serdata_free;
  ops.print = serdata_print;
  ops.get_keyhash = serdata_get_keyhash;
#ifdef DDS_HAS_SHM
  ops.get_sample_size = ddsi_serdata_iox_size;
  // Never used: without FIXED_SIZE or serialize_into Cyclone refuses iceoryx for these types.
  ops.from_iox_buffer = nullptr;
#endif
  return ops;
}

// Cyclone only treats sertypes as interchangeable when they share these exact tables.
const ddsi_sertype_ops & sertype_ops()
{
  static const ddsi_sertype_ops ops = make_sertype_ops();
  return ops;
}

const ddsi_serdata_ops & serdata_ops()
{
  static const ddsi_serdata_ops ops = make_serdata_ops();
  return ops;
}

}  // namespace

SerType * make_sertype(
    const std::string & type_name, const MessageMembers * members, bool service_prefix)
{
  auto st = std::make_unique<SerType>();
  ddsi_sertype_init_flags(
      st.get(),
      type_name.c_str(),
      &sertype_ops(),
      &serdata_ops(),
      DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  // Real ROS 2 nodes offer XCDR1 only; offering XCDR2 too would change the QoS we announce.
  st->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  st->members = members;
  st->service_prefix = service_prefix;
  return st.release();
}

const SerData * as_serdata(const ddsi_serdata * d)
{
  if (d == nullptr || d->ops != &serdata_ops() || d->kind != SDK_DATA) {
    return nullptr;
  }
  return static_cast<const SerData *>(d);
}

void copy_payload(const ddsi_serdata * d, std::vector<uint8_t> & out)
{
  if (const SerData * sd = as_serdata(d)) {
    out.assign(sd->bytes.begin(), sd->bytes.begin() + sd->size);
    return;
  }
  const uint32_t size = ddsi_serdata_size(d);
  out.resize(size);
  if (size != 0) {
    ddsi_serdata_to_ser(d, 0, size, out.data());
  }
}

}  // namespace dds
}  // namespace rclcpp
