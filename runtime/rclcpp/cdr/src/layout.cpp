#include "layout.hpp"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "rosidl_typesupport_introspection_cpp/field_types.hpp"

namespace rclcpp_cdr
{
namespace detail
{
namespace
{

namespace ts = rosidl_typesupport_introspection_cpp;

struct LayoutCache
{
  std::mutex mutex;
  std::unordered_map<const MessageMembers *, std::unique_ptr<Layout>> layouts;
};

// Never destroyed: DDS receive threads may still decode while static destructors run at exit.
LayoutCache & global_cache()
{
  static LayoutCache * cache = new LayoutCache;
  return *cache;
}

struct PrimitiveInfo
{
  ElementKind kind;
  uint8_t size;
  uint8_t align;
};

// Wire size and alignment per type id; false for ids this codec does not know.
bool classify(uint8_t type_id, PrimitiveInfo & info)
{
  switch (type_id) {
    case ts::ROS_TYPE_BOOLEAN:
      info = {ElementKind::Bool, 1, 1};
      return true;
    case ts::ROS_TYPE_CHAR:
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_INT8:
      info = {ElementKind::Primitive, 1, 1};
      return true;
    case ts::ROS_TYPE_WCHAR:
      info = {ElementKind::Primitive, static_cast<uint8_t>(sizeof(char16_t)), 2};
      return true;
    case ts::ROS_TYPE_UINT16:
    case ts::ROS_TYPE_INT16:
      info = {ElementKind::Primitive, 2, 2};
      return true;
    case ts::ROS_TYPE_UINT32:
    case ts::ROS_TYPE_INT32:
    case ts::ROS_TYPE_FLOAT:
      info = {ElementKind::Primitive, 4, 4};
      return true;
    case ts::ROS_TYPE_UINT64:
    case ts::ROS_TYPE_INT64:
    case ts::ROS_TYPE_DOUBLE:
      info = {ElementKind::Primitive, 8, 8};
      return true;
    case ts::ROS_TYPE_LONG_DOUBLE:
      info = {ElementKind::Primitive, static_cast<uint8_t>(sizeof(long double)), 8};
      return true;
    case ts::ROS_TYPE_STRING:
      info = {ElementKind::String, 0, 4};
      return true;
    case ts::ROS_TYPE_WSTRING:
      info = {ElementKind::WString, 0, 4};
      return true;
    case ts::ROS_TYPE_MESSAGE:
      info = {ElementKind::Message, 0, 1};
      return true;
    default:
      return false;
  }
}

bool has_accessors(const MessageMember & m, ElementKind kind)
{
  if (!m.size_function || !m.resize_function) {
    return false;
  }
  // std::vector<bool> has no addressable elements; its introspection only offers fetch/assign.
  if (kind == ElementKind::Bool) {
    return m.fetch_function && m.assign_function;
  }
  return m.get_function && m.get_const_function;
}

size_t element_min_wire_size(const Field & f)
{
  switch (f.kind) {
    case ElementKind::Primitive:
      return f.size;
    case ElementKind::Bool:
      return 1;
    case ElementKind::String:
    case ElementKind::WString:
      return 4;
    case ElementKind::Message:
      return f.element->min_wire_size;
  }
  return 0;
}

size_t field_min_wire_size(const Field & f)
{
  switch (f.shape) {
    case Shape::Single:
      return element_min_wire_size(f);
    case Shape::Array:
      return f.count * element_min_wire_size(f);
    case Shape::Sequence:
      return 4;
  }
  return 0;
}

bool can_join_run(const Field & f)
{
  // long double is excluded: its memory alignment (16) and its wire alignment (8) differ.
  return f.kind == ElementKind::Primitive && f.shape != Shape::Sequence &&
         f.member->type_id_ != ts::ROS_TYPE_LONG_DOUBLE && f.offset % f.align == 0;
}

uint32_t memory_bytes(const Field & f)
{
  return static_cast<uint32_t>(f.shape == Shape::Array ? f.count * f.size : f.size);
}

void find_runs(Layout & layout)
{
  auto & fields = layout.fields;
  size_t i = 0;
  while (i < fields.size()) {
    if (!can_join_run(fields[i])) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    uint32_t bytes = memory_bytes(fields[i]);
    uint8_t align = fields[i].align;
    while (end < fields.size() && can_join_run(fields[end]) &&
           fields[end].offset == fields[i].offset + bytes) {
      bytes += memory_bytes(fields[end]);
      align = std::max(align, fields[end].align);
      ++end;
    }
    if (end - i > 1) {
      fields[i].run_fields = static_cast<uint32_t>(end - i);
      fields[i].run_bytes = bytes;
      fields[i].run_align = align;
    }
    i = end;
  }
}

const Layout & build_locked(LayoutCache & cache, const MessageMembers * members);

void append_members(
    LayoutCache & cache,
    Layout & into,
    const MessageMembers * members,
    uint32_t base_offset,
    const std::string & prefix)
{
  for (uint32_t i = 0; i < members->member_count_; ++i) {
    const MessageMember & m = members->members_[i];
    Field f;
    f.member = &m;
    f.offset = base_offset + m.offset_;
    const std::string path = prefix + (m.name_ ? m.name_ : "?");

    PrimitiveInfo info{};
    if (!classify(m.type_id_, info)) {
      if (into.unsupported.empty()) {
        into.unsupported = path;
      }
      continue;
    }
    f.kind = info.kind;
    f.size = info.size;
    f.align = info.align;

    if (!m.is_array_) {
      f.shape = Shape::Single;
    } else if (m.array_size_ > 0 && !m.is_upper_bound_) {
      f.shape = Shape::Array;
      f.count = m.array_size_;
    } else {
      f.shape = Shape::Sequence;
      f.count = m.is_upper_bound_ ? m.array_size_ : 0;
      if (!has_accessors(m, f.kind)) {
        if (into.unsupported.empty()) {
          into.unsupported = path;
        }
        continue;
      }
    }
    if (f.kind == ElementKind::String || f.kind == ElementKind::WString) {
      f.string_bound = m.string_upper_bound_;
      f.stride = f.kind == ElementKind::String ? sizeof(std::string) : sizeof(std::u16string);
    }

    if (f.kind == ElementKind::Message) {
      const MessageMembers * nested = get_members(m.members_);
      if (!nested) {
        if (into.unsupported.empty()) {
          into.unsupported = path;
        }
        continue;
      }
      if (f.shape == Shape::Single) {
        // Nested structs have no framing on the wire, so their fields join the parent's list.
        append_members(cache, into, nested, f.offset, path + ".");
        continue;
      }
      f.element = &build_locked(cache, nested);
      f.stride = nested->size_of_;
      if (!f.element->unsupported.empty() && into.unsupported.empty()) {
        into.unsupported = path + "." + f.element->unsupported;
      }
    }
    into.fields.push_back(f);
    into.paths.push_back(path);
  }
}

const Layout & build_locked(LayoutCache & cache, const MessageMembers * members)
{
  auto found = cache.layouts.find(members);
  if (found != cache.layouts.end()) {
    return *found->second;
  }
  auto layout = std::make_unique<Layout>();
  layout->members = members;
  append_members(cache, *layout, members, 0, "");
  find_runs(*layout);
  for (const Field & f : layout->fields) {
    layout->min_wire_size += field_min_wire_size(f);
  }
  if (members->member_count_ == 0) {
    layout->placeholder_byte = true;
    layout->min_wire_size = 1;
  }
  return *cache.layouts.emplace(members, std::move(layout)).first->second;
}

// A handful of recently used layouts per thread, so the steady state takes no lock.
struct RecentLayouts
{
  static constexpr size_t kSize = 4;
  const MessageMembers * keys[kSize] = {};
  const Layout * layouts[kSize] = {};
  size_t next = 0;
};

}  // namespace

const Layout & layout_of(const MessageMembers * members)
{
  thread_local RecentLayouts recent;
  for (size_t i = 0; i < RecentLayouts::kSize; ++i) {
    if (recent.keys[i] == members) {
      return *recent.layouts[i];
    }
  }
  LayoutCache & cache = global_cache();
  const Layout * layout = nullptr;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    layout = &build_locked(cache, members);
  }
  recent.keys[recent.next] = members;
  recent.layouts[recent.next] = layout;
  recent.next = (recent.next + 1) % RecentLayouts::kSize;
  return *layout;
}

}  // namespace detail
}  // namespace rclcpp_cdr
