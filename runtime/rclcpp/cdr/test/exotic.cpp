#include "exotic.hpp"

#include <cstddef>
#include <new>
#include <tuple>

#include "rosidl_typesupport_introspection_cpp/field_types.hpp"
#include "rosidl_typesupport_introspection_cpp/identifier.hpp"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace cdr_test
{

bool Exotic::operator==(const Exotic & o) const
{
  return flag == o.flag && letter == o.letter && small == o.small && big == o.big &&
         wide == o.wide && bits == o.bits && fixed_bits == o.fixed_bits &&
         bounded_numbers == o.bounded_numbers && short_text == o.short_text &&
         wide_list == o.wide_list && names == o.names && points == o.points && stamps == o.stamps;
}

namespace
{

namespace ts = rosidl_typesupport_introspection_cpp;
using ts::MessageMember;
using ts::MessageMembers;

template <class C>
size_t size_of_container(const void * c)
{
  return static_cast<const C *>(c)->size();
}

template <class C>
const void * element_const(const void * c, size_t i)
{
  return &(*static_cast<const C *>(c))[i];
}

template <class C>
void * element(void * c, size_t i)
{
  return &(*static_cast<C *>(c))[i];
}

template <class C>
void fetch(const void * c, size_t i, void * out)
{
  *static_cast<typename C::value_type *>(out) = (*static_cast<const C *>(c))[i];
}

template <class C>
void assign(void * c, size_t i, const void * value)
{
  (*static_cast<C *>(c))[i] = *static_cast<const typename C::value_type *>(value);
}

template <class C>
void resize(void * c, size_t n)
{
  static_cast<C *>(c)->resize(n);
}

MessageMember plain(
    const char * name,
    uint8_t type,
    size_t offset,
    size_t string_bound = 0,
    const rosidl_message_type_support_t * nested = nullptr)
{
  return {
      name,
      type,
      string_bound,
      nested,
      false,
      0,
      false,
      static_cast<uint32_t>(offset),
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr};
}

template <class A>
MessageMember fixed_array(
    const char * name,
    uint8_t type,
    size_t offset,
    const rosidl_message_type_support_t * nested = nullptr)
{
  return {
      name,
      type,
      0,
      nested,
      true,
      std::tuple_size<A>::value,
      false,
      static_cast<uint32_t>(offset),
      nullptr,
      size_of_container<A>,
      element_const<A>,
      element<A>,
      fetch<A>,
      assign<A>,
      nullptr};
}

template <class V>
MessageMember sequence(
    const char * name,
    uint8_t type,
    size_t offset,
    size_t bound = 0,
    const rosidl_message_type_support_t * nested = nullptr)
{
  return {
      name,
      type,
      0,
      nested,
      true,
      bound,
      bound != 0,
      static_cast<uint32_t>(offset),
      nullptr,
      size_of_container<V>,
      element_const<V>,
      element<V>,
      fetch<V>,
      assign<V>,
      resize<V>};
}

// std::vector<bool> has no element addresses: like generated code, offer fetch/assign only.
MessageMember bool_sequence(const char * name, size_t offset)
{
  using V = std::vector<bool>;
  return {
      name,
      ts::ROS_TYPE_BOOLEAN,
      0,
      nullptr,
      true,
      0,
      false,
      static_cast<uint32_t>(offset),
      nullptr,
      size_of_container<V>,
      nullptr,
      nullptr,
      fetch<V>,
      assign<V>,
      resize<V>};
}

template <class T>
void init(void * p, rosidl_runtime_cpp::MessageInitialization)
{
  new (p) T();
}

template <class T>
void fini(void * p)
{
  static_cast<T *>(p)->~T();
}

template <class T, size_t N>
const rosidl_message_type_support_t * make_handle(
    const char * name, const std::array<MessageMember, N> & fields)
{
  static const MessageMembers members{
      "cdr_test::msg", name, static_cast<uint32_t>(N), sizeof(T), fields.data(), init<T>, fini<T>};
  static const rosidl_message_type_support_t handle{
      ts::typesupport_identifier, &members, get_message_typesupport_handle_function};
  return &handle;
}

}  // namespace

const rosidl_message_type_support_t * exotic_type_support()
{
  using E = Exotic;
  static const std::array<MessageMember, 13> fields{
      plain("flag", ts::ROS_TYPE_BOOLEAN, offsetof(E, flag)),
      plain("letter", ts::ROS_TYPE_WCHAR, offsetof(E, letter)),
      plain("small", ts::ROS_TYPE_INT16, offsetof(E, small)),
      plain("big", ts::ROS_TYPE_UINT64, offsetof(E, big)),
      plain("wide", ts::ROS_TYPE_WSTRING, offsetof(E, wide)),
      bool_sequence("bits", offsetof(E, bits)),
      fixed_array<std::array<bool, 3>>("fixed_bits", ts::ROS_TYPE_BOOLEAN, offsetof(E, fixed_bits)),
      sequence<decltype(E::bounded_numbers)>(
          "bounded_numbers", ts::ROS_TYPE_INT16, offsetof(E, bounded_numbers), 3),
      plain("short_text", ts::ROS_TYPE_STRING, offsetof(E, short_text), 5),
      sequence<std::vector<std::u16string>>(
          "wide_list", ts::ROS_TYPE_WSTRING, offsetof(E, wide_list)),
      fixed_array<std::array<std::string, 2>>("names", ts::ROS_TYPE_STRING, offsetof(E, names)),
      sequence<decltype(E::points)>(
          "points",
          ts::ROS_TYPE_MESSAGE,
          offsetof(E, points),
          2,
          ts::get_message_type_support_handle<geometry_msgs::msg::Point>()),
      fixed_array<std::array<builtin_interfaces::msg::Time, 2>>(
          "stamps",
          ts::ROS_TYPE_MESSAGE,
          offsetof(E, stamps),
          ts::get_message_type_support_handle<builtin_interfaces::msg::Time>()),
  };
  return make_handle<E>("Exotic", fields);
}

const rosidl_message_type_support_t * padded_pair_type_support()
{
  static const std::array<MessageMember, 2> fields{
      plain("a", ts::ROS_TYPE_UINT8, offsetof(PaddedPair, a)),
      plain("b", ts::ROS_TYPE_FLOAT64, offsetof(PaddedPair, b)),
  };
  return make_handle<PaddedPair>("PaddedPair", fields);
}

const rosidl_message_type_support_t * extended_type_support()
{
  static const std::array<MessageMember, 2> fields{
      plain("value", ts::ROS_TYPE_LONG_DOUBLE, offsetof(Extended, value)),
      plain("after", ts::ROS_TYPE_UINT8, offsetof(Extended, after)),
  };
  return make_handle<Extended>("Extended", fields);
}

const rosidl_message_type_support_t * unknown_type_support()
{
  static const std::array<MessageMember, 2> fields{
      plain("ok", ts::ROS_TYPE_INT32, offsetof(Unknown, ok)),
      plain("broken", 99, offsetof(Unknown, broken)),
  };
  return make_handle<Unknown>("Unknown", fields);
}

}  // namespace cdr_test
