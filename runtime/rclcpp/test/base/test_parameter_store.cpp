// The parameter rules a node's services and tools rely on, with rclcpp's exact reasons: what a
// declaration keeps, which sets are refused and why, what an atomic set leaves behind when it
// fails, the events a change produces, and what list returns for prefixes and depths.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/parameter_store.hpp"
#include "rclcpp/exceptions/exceptions.hpp"

using rcl_interfaces::msg::ParameterDescriptor;
using rcl_interfaces::msg::ParameterEvent;
using rclcpp::Parameter;
using rclcpp::ParameterValue;
using rclcpp::base::ParameterStore;

namespace
{

ParameterDescriptor read_only()
{
  ParameterDescriptor d;
  d.read_only = true;
  return d;
}

ParameterDescriptor dynamic()
{
  ParameterDescriptor d;
  d.dynamic_typing = true;
  return d;
}

ParameterDescriptor integer_range(int64_t from, int64_t to, uint64_t step)
{
  ParameterDescriptor d;
  d.integer_range.resize(1);
  d.integer_range[0].from_value = from;
  d.integer_range[0].to_value = to;
  d.integer_range[0].step = step;
  return d;
}

ParameterDescriptor double_range(double from, double to, double step)
{
  ParameterDescriptor d;
  d.floating_point_range.resize(1);
  d.floating_point_range[0].from_value = from;
  d.floating_point_range[0].to_value = to;
  d.floating_point_range[0].step = step;
  return d;
}

/// A store with `count` (integer 3), `frame` (read-only string), `gain` (double in [0, 1]) and
/// `any` (dynamically typed, 1).
class Store : public ::testing::Test
{
protected:
  Store()
  {
    declare("count", ParameterValue(3));
    declare("frame", ParameterValue("base_link"), read_only());
    declare("gain", ParameterValue(0.5), double_range(0.0, 1.0, 0.0));
    declare("any", ParameterValue(1), dynamic());
  }

  const ParameterValue & declare(
    const std::string & name, const ParameterValue & value,
    const ParameterDescriptor & descriptor = ParameterDescriptor())
  {
    ParameterEvent event;
    return store_.declare(name, rclcpp::PARAMETER_NOT_SET, value, descriptor, false, event);
  }

  rcl_interfaces::msg::SetParametersResult set(const std::vector<Parameter> & parameters)
  {
    event_ = ParameterEvent();
    return store_.set_atomically(parameters, event_);
  }

  ParameterStore store_{{}, false};
  ParameterEvent event_;
};

}  // namespace

TEST_F(Store, refused_sets_give_rclcpps_reasons_and_change_nothing)
{
  auto result = set({Parameter("count", "seven")});
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(
    result.reason, "Wrong parameter type, parameter {count} is of type {integer}, setting it to "
    "{string} is not allowed.");

  result = set({Parameter("frame", "odom")});
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason, "parameter 'frame' cannot be set because it is read-only");

  result = set({Parameter("gain", 1.5)});
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason, "Parameter {gain} doesn't comply with floating point range.");

  try {
    set({Parameter("ghost", 1)});
    FAIL() << "an undeclared parameter must not be set";
  } catch (const rclcpp::exceptions::ParameterNotDeclaredException & e) {
    EXPECT_STREQ(e.what(), "parameter 'ghost' cannot be set because it was not declared");
  }
  EXPECT_THROW(set({Parameter("", 1)}), rclcpp::exceptions::InvalidParametersException);

  EXPECT_EQ(store_.get_parameter("count").as_int(), 3);
  EXPECT_EQ(store_.get_parameter("frame").as_string(), "base_link");
  EXPECT_DOUBLE_EQ(store_.get_parameter("gain").as_double(), 0.5);
  EXPECT_FALSE(store_.has("ghost"));
  EXPECT_TRUE(event_.changed_parameters.empty());
}

TEST_F(Store, an_atomic_set_with_one_bad_value_sets_none)
{
  auto result = set({Parameter("count", 4), Parameter("gain", 0.25), Parameter("count", 2.0)});
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(store_.get_parameter("count").as_int(), 3);
  EXPECT_DOUBLE_EQ(store_.get_parameter("gain").as_double(), 0.5);

  result = set({Parameter("count", 4), Parameter("gain", 0.25)});
  ASSERT_TRUE(result.successful) << result.reason;
  EXPECT_EQ(store_.get_parameter("count").as_int(), 4);
  ASSERT_EQ(event_.changed_parameters.size(), 2u);
  EXPECT_EQ(event_.changed_parameters[0].name, "count");
  EXPECT_EQ(event_.changed_parameters[0].value.type, rclcpp::PARAMETER_INTEGER);
  EXPECT_EQ(event_.changed_parameters[0].value.integer_value, 4);
  EXPECT_DOUBLE_EQ(event_.changed_parameters[1].value.double_value, 0.25);
  EXPECT_TRUE(event_.new_parameters.empty());
  EXPECT_TRUE(event_.deleted_parameters.empty());
}

TEST_F(Store, dynamic_parameters_change_type_and_the_descriptor_follows)
{
  ASSERT_TRUE(set({Parameter("any", "text")}).successful);
  EXPECT_EQ(store_.get_parameter("any").as_string(), "text");
  const auto described = store_.describe({"any", "count", "frame", "gain"});
  ASSERT_EQ(described.size(), 4u);
  EXPECT_EQ(described[0].name, "any");
  EXPECT_EQ(described[0].type, rclcpp::PARAMETER_STRING);
  EXPECT_TRUE(described[0].dynamic_typing);
  EXPECT_EQ(described[1].type, rclcpp::PARAMETER_INTEGER);
  EXPECT_FALSE(described[1].read_only);
  EXPECT_TRUE(described[2].read_only);
  ASSERT_EQ(described[3].floating_point_range.size(), 1u);
  EXPECT_DOUBLE_EQ(described[3].floating_point_range[0].to_value, 1.0);
  EXPECT_EQ(
    store_.types({"any", "count", "gain"}),
    (std::vector<uint8_t>{rclcpp::PARAMETER_STRING, rclcpp::PARAMETER_INTEGER,
      rclcpp::PARAMETER_DOUBLE}));
}

TEST_F(Store, unknown_names_throw_unless_undeclared_parameters_are_allowed)
{
  EXPECT_THROW(store_.get_parameters({"count", "ghost"}), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(store_.describe({"ghost"}), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(store_.types({"ghost"}), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(store_.get_parameter("ghost"), rclcpp::exceptions::ParameterNotDeclaredException);
  Parameter p;
  EXPECT_FALSE(store_.get_parameter("ghost", p));

  ParameterStore open({}, true);
  const auto values = open.get_parameters({"ghost"});
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].get_type(), rclcpp::PARAMETER_NOT_SET);
  EXPECT_EQ(open.describe({"ghost"}).at(0).name, "ghost");
  EXPECT_EQ(open.types({"ghost"}), std::vector<uint8_t>{rclcpp::PARAMETER_NOT_SET});
}

TEST(ParameterStoreOpen, undeclared_sets_declare_and_not_set_values_undeclare)
{
  ParameterStore store({}, true);
  ParameterEvent event;
  ASSERT_TRUE(store.set_atomically({Parameter("late", 5)}, event).successful);
  ASSERT_EQ(event.new_parameters.size(), 1u);
  EXPECT_EQ(event.new_parameters[0].name, "late");
  EXPECT_TRUE(event.changed_parameters.empty());
  EXPECT_TRUE(store.describe({"late"}).at(0).dynamic_typing);

  event = ParameterEvent();
  ASSERT_TRUE(store.set_atomically({Parameter("late")}, event).successful);
  EXPECT_FALSE(store.has("late"));
  ASSERT_EQ(event.deleted_parameters.size(), 1u);
  EXPECT_EQ(event.deleted_parameters[0].name, "late");

  ParameterEvent declared;
  store.declare("fixed", rclcpp::PARAMETER_NOT_SET, ParameterValue(1), ParameterDescriptor(), false, declared);
  const auto result = store.set_atomically({Parameter("fixed")}, event);
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason, "cannot undeclare an statically typed parameter");
  EXPECT_TRUE(store.has("fixed"));
}

TEST(ParameterStoreDeclare, overrides_types_and_ranges_are_enforced_when_declaring)
{
  ParameterStore store(
    {{"timeout", ParameterValue(5)}, {"label", ParameterValue(7)}, {"speed", ParameterValue(2.0)}},
    false);
  ParameterEvent event;
  EXPECT_EQ(
    store.declare("timeout", rclcpp::PARAMETER_NOT_SET, ParameterValue(1), ParameterDescriptor(), false, event)
    .get<int64_t>(), 5);
  ASSERT_EQ(event.new_parameters.size(), 1u);
  EXPECT_EQ(event.new_parameters[0].value.integer_value, 5);

  // The override of another type is refused with rclcpp's words; ignoring it keeps the default.
  try {
    store.declare("label", rclcpp::PARAMETER_NOT_SET, ParameterValue("a"), ParameterDescriptor(), false, event);
    FAIL() << "an integer override of a string parameter must be refused";
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & e) {
    EXPECT_NE(
      std::string(e.what()).find(
        "Wrong parameter type, parameter {label} is of type {string}, setting it to {integer}"),
      std::string::npos) << e.what();
  }
  EXPECT_FALSE(store.has("label"));
  EXPECT_EQ(
    store.declare("label", rclcpp::PARAMETER_NOT_SET, ParameterValue("a"), ParameterDescriptor(), true, event)
    .get<std::string>(), "a");

  try {
    store.declare(
      "speed", rclcpp::PARAMETER_NOT_SET, ParameterValue(0.5), double_range(0.0, 1.0, 0.0), false,
      event);
    FAIL() << "an override out of range must be refused";
  } catch (const rclcpp::exceptions::InvalidParameterValueException & e) {
    EXPECT_STREQ(
      e.what(),
      "parameter 'speed' could not be set: Parameter {speed} doesn't comply with floating point "
      "range.");
  }

  EXPECT_THROW(
    store.declare("timeout", rclcpp::PARAMETER_NOT_SET, ParameterValue(1), ParameterDescriptor(), false, event),
    rclcpp::exceptions::ParameterAlreadyDeclaredException);
  EXPECT_THROW(
    store.declare("", rclcpp::PARAMETER_NOT_SET, ParameterValue(1), ParameterDescriptor(), false, event),
    rclcpp::exceptions::InvalidParametersException);
  EXPECT_THROW(
    store.declare("empty", rclcpp::PARAMETER_NOT_SET, ParameterValue(), ParameterDescriptor(), false, event),
    rclcpp::exceptions::InvalidParameterTypeException);
}

TEST(ParameterStoreDeclare, a_typed_parameter_without_a_value_waits_for_one_of_its_type)
{
  ParameterStore store({}, false);
  ParameterEvent event;
  store.declare("later", rclcpp::PARAMETER_DOUBLE, ParameterValue(), ParameterDescriptor(), false, event);
  EXPECT_TRUE(event.new_parameters.empty());
  EXPECT_THROW(store.get_parameter("later"), rclcpp::exceptions::ParameterUninitializedException);
  EXPECT_EQ(store.describe({"later"}).at(0).type, rclcpp::PARAMETER_DOUBLE);
  EXPECT_FALSE(store.set_atomically({Parameter("later", 1)}, event).successful);
  EXPECT_TRUE(store.set_atomically({Parameter("later", 1.0)}, event).successful);
  EXPECT_DOUBLE_EQ(store.get_parameter("later").as_double(), 1.0);
}

TEST(ParameterStoreDeclare, ranges_accept_their_end_points_and_steps_only)
{
  ParameterStore store({}, false);
  ParameterEvent event;
  store.declare(
    "teeth", rclcpp::PARAMETER_NOT_SET, ParameterValue(0), integer_range(0, 10, 5), false, event);
  store.declare(
    "ratio", rclcpp::PARAMETER_NOT_SET, ParameterValue(0.0), double_range(0.0, 1.0, 0.1), false,
    event);
  EXPECT_TRUE(store.set_atomically({Parameter("teeth", 5)}, event).successful);
  EXPECT_TRUE(store.set_atomically({Parameter("teeth", 10)}, event).successful);
  const auto off_step = store.set_atomically({Parameter("teeth", 7)}, event);
  EXPECT_FALSE(off_step.successful);
  EXPECT_EQ(off_step.reason, "Parameter {teeth} doesn't comply with integer range.");
  EXPECT_FALSE(store.set_atomically({Parameter("teeth", -5)}, event).successful);
  // 0.3 is not a multiple of 0.1 in binary; it still is a step of the range.
  EXPECT_TRUE(store.set_atomically({Parameter("ratio", 0.3)}, event).successful);
  EXPECT_TRUE(store.set_atomically({Parameter("ratio", 1.0)}, event).successful);
  EXPECT_FALSE(store.set_atomically({Parameter("ratio", 0.35)}, event).successful);

  ParameterStore wide({}, false);
  wide.declare(
    "wide", rclcpp::PARAMETER_NOT_SET, ParameterValue(INT64_MIN + 1),
    integer_range(INT64_MIN + 1, INT64_MAX, 2), false, event);
  EXPECT_TRUE(wide.set_atomically({Parameter("wide", INT64_MAX - 2)}, event).successful);
  EXPECT_FALSE(wide.set_atomically({Parameter("wide", INT64_MAX - 1)}, event).successful);
}

TEST_F(Store, checks_refuse_declarations_and_sets_with_their_reason)
{
  store_.add_check([](const std::vector<Parameter> & parameters) {
      rcl_interfaces::msg::SetParametersResult result;
      result.successful = true;
      for (const auto & p : parameters) {
        if (p.get_name() == "count" && p.as_int() > 100) {
          result.successful = false;
          result.reason = "too many";
        }
      }
      return result;
    });
  const auto result = set({Parameter("count", 101)});
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason, "too many");
  EXPECT_EQ(store_.get_parameter("count").as_int(), 3);

  ParameterStore fresh({{"count", ParameterValue(500)}}, false);
  fresh.add_check([](const std::vector<Parameter> &) {
      rcl_interfaces::msg::SetParametersResult refused;
      refused.reason = "no";
      return refused;
    });
  ParameterEvent event;
  EXPECT_THROW(
    fresh.declare("count", rclcpp::PARAMETER_NOT_SET, ParameterValue(1), ParameterDescriptor(), false, event),
    rclcpp::exceptions::InvalidParameterValueException);
  EXPECT_FALSE(fresh.has("count"));
}

TEST_F(Store, undeclare_keeps_read_only_and_statically_typed_parameters)
{
  EXPECT_THROW(store_.undeclare("frame"), rclcpp::exceptions::ParameterImmutableException);
  EXPECT_THROW(store_.undeclare("count"), rclcpp::exceptions::InvalidParameterTypeException);
  EXPECT_THROW(store_.undeclare("ghost"), rclcpp::exceptions::ParameterNotDeclaredException);
  store_.undeclare("any");
  EXPECT_FALSE(store_.has("any"));
}

TEST(ParameterStoreList, prefixes_and_depth_select_as_rclcpp_does)
{
  ParameterStore store({}, false);
  ParameterEvent event;
  for (const char * name : {"a", "b.c", "b.d.e", "bc", "x.y"}) {
    store.declare(name, rclcpp::PARAMETER_NOT_SET, ParameterValue(true), ParameterDescriptor(), false, event);
  }
  using Names = std::vector<std::string>;
  auto all = store.list({}, 0);
  EXPECT_EQ(all.names, (Names{"a", "b.c", "b.d.e", "bc", "x.y"}));
  EXPECT_EQ(all.prefixes, (Names{"b", "b.d", "x"}));
  EXPECT_EQ(store.list({}, 1).names, (Names{"a", "bc"}));
  EXPECT_EQ(store.list({}, 2).names, (Names{"a", "b.c", "bc", "x.y"}));
  // A prefix selects whole name components only ("b" is not a prefix of "bc"), and the depth
  // counts the separators after it, the one right after the prefix included.
  EXPECT_EQ(store.list({"b"}, 0).names, (Names{"b.c", "b.d.e"}));
  EXPECT_EQ(store.list({"b"}, 1).names, Names{});
  EXPECT_EQ(store.list({"b"}, 2).names, Names{"b.c"});
  EXPECT_EQ(store.list({"a", "x"}, 0).names, (Names{"a", "x.y"}));
  EXPECT_EQ(store.list({"nothing"}, 0).names, Names{});
}
