#include "idl_trashes.hpp"

#include <cstring>
#include <string>

#include "dds/dds.h"
#include "dds/ddsi/ddsi_cdrstream.h"

namespace cdr_test
{
namespace
{

constexpr uint32_t kXcdr1 = 1;

char * copy_string(const std::string & s)
{
  auto * out = static_cast<char *>(dds_alloc(s.size() + 1));
  std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

void copy_header(const std_msgs::msg::Header & in, cdr_idl_Header & out)
{
  out.stamp.sec = in.stamp.sec;
  out.stamp.nanosec = in.stamp.nanosec;
  out.frame_id = copy_string(in.frame_id);
}

std_msgs::msg::Header header_of(const cdr_idl_Header & in)
{
  std_msgs::msg::Header out;
  out.stamp.sec = in.stamp.sec;
  out.stamp.nanosec = in.stamp.nanosec;
  out.frame_id = in.frame_id ? in.frame_id : "";
  return out;
}

}  // namespace

IdlTrashes::IdlTrashes()
    : sample_(static_cast<cdr_idl_Trashes_ *>(dds_alloc(sizeof(cdr_idl_Trashes_))))
{
}

IdlTrashes::IdlTrashes(const quorvel_protocol::msg::Trashes & message) : IdlTrashes()
{
  copy_header(message.header, sample_->header);
  const auto n = static_cast<uint32_t>(message.trashes.size());
  sample_->trashes._maximum = sample_->trashes._length = n;
  sample_->trashes._release = true;
  sample_->trashes._buffer =
      static_cast<cdr_idl_TrashObject *>(dds_alloc(n * sizeof(cdr_idl_TrashObject)));
  for (uint32_t i = 0; i < n; ++i) {
    const auto & in = message.trashes[i];
    auto & out = sample_->trashes._buffer[i];
    copy_header(in.header, out.header);
    out.value_a = in.value_a;
    out.value_b = in.value_b;
    out.text = copy_string(in.text);
    out.flag = in.flag;
    out.value_c = in.value_c;
    const auto len = static_cast<uint32_t>(in.data.size());
    out.data._maximum = out.data._length = len;
    out.data._release = true;
    out.data._buffer = static_cast<uint8_t *>(dds_alloc(len > 0 ? len : 1));
    if (len > 0) {
      std::memcpy(out.data._buffer, in.data.data(), len);
    }
    out.x = in.x;
    out.y = in.y;
  }
}

IdlTrashes::~IdlTrashes() { dds_sample_free(sample_, &cdr_idl_Trashes__desc, DDS_FREE_ALL); }

std::vector<uint8_t> IdlTrashes::encode_body() const
{
  dds_ostream_t os;
  dds_ostream_init(&os, 0, kXcdr1);
  dds_stream_write(&os, reinterpret_cast<const char *>(sample_), cdr_idl_Trashes__desc.m_ops);
  std::vector<uint8_t> body(os.m_buffer, os.m_buffer + os.m_index);
  dds_ostream_fini(&os);
  return body;
}

bool IdlTrashes::decode_body(std::vector<uint8_t> body)
{
  uint32_t end = 0;
  if (!dds_stream_normalize_data(
          reinterpret_cast<char *>(body.data()),
          &end,
          static_cast<uint32_t>(body.size()),
          false,
          kXcdr1,
          cdr_idl_Trashes__desc.m_ops)) {
    return false;
  }
  dds_istream_t is;
  dds_istream_init(&is, static_cast<uint32_t>(body.size()), body.data(), kXcdr1);
  dds_stream_read(&is, reinterpret_cast<char *>(sample_), cdr_idl_Trashes__desc.m_ops);
  dds_istream_fini(&is);
  return true;
}

quorvel_protocol::msg::Trashes IdlTrashes::to_message() const
{
  quorvel_protocol::msg::Trashes out;
  out.header = header_of(sample_->header);
  for (uint32_t i = 0; i < sample_->trashes._length; ++i) {
    const auto & in = sample_->trashes._buffer[i];
    quorvel_protocol::msg::TrashObject t;
    t.header = header_of(in.header);
    t.value_a = in.value_a;
    t.value_b = in.value_b;
    t.text = in.text ? in.text : "";
    t.flag = in.flag;
    t.value_c = in.value_c;
    t.data.assign(in.data._buffer, in.data._buffer + in.data._length);
    t.x = in.x;
    t.y = in.y;
    out.trashes.push_back(t);
  }
  return out;
}

}  // namespace cdr_test
