#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "quorvel_arm_supervisor/tuning_parameters.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

// rclcpp refuses an integer literal for a double parameter and the reverse, so the shipped
// parameters file must write every value with the right YAML type.
TEST(TuningParameters, ShippedParametersFileMatchesTypesAndDefaults)
{
  const YAML::Node file = YAML::LoadFile(std::string(QUORVEL_CONFIG_DIR) +
      "/arm_supervisor_params.yaml");
  const YAML::Node params = file["/**"]["ros__parameters"];
  ASSERT_TRUE(params.IsMap());

  std::set<std::string> expected{qas::kYamlConfigPathParameter};
  EXPECT_EQ(params[qas::kYamlConfigPathParameter].as<std::string>(), "arm_joints.yaml");

  const qas::TuningParameters defaults;
  qas::visit_tuning_parameters(
    defaults, [&](const char * name, const auto & value) {
      expected.insert(name);
      const YAML::Node node = params[name];
      ASSERT_TRUE(node.IsScalar()) << name;
      const std::string text = node.Scalar();
      using T = std::decay_t<decltype(value)>;
      if constexpr (std::is_same_v<T, std::int32_t>) {
        EXPECT_EQ(text.find('.'), std::string::npos) << name << " must be an integer";
        EXPECT_EQ(node.as<std::int64_t>(), value) << name;
      } else {
        EXPECT_NE(text.find('.'), std::string::npos) << name << " needs a decimal point";
        EXPECT_EQ(static_cast<T>(node.as<double>()), value) << name;
      }
    });

  std::set<std::string> present;
  for (const auto & entry : params) {
    present.insert(entry.first.as<std::string>());
  }
  EXPECT_EQ(present, expected);
  EXPECT_EQ(expected.size(), 15U);
}

TEST(TuningParameters, IntegersKeepTheirLow32Bits)
{
  EXPECT_EQ(qas::narrow_int_parameter(1500), 1500);
  EXPECT_EQ(qas::narrow_int_parameter(-7), -7);
  EXPECT_EQ(qas::narrow_int_parameter((std::int64_t{1} << 32) + 5), 5);
  EXPECT_EQ(qas::narrow_int_parameter(0xFFFFFFFFLL), -1);
  EXPECT_EQ(qas::narrow_int_parameter(std::int64_t{1} << 31),
    std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(qas::narrow_int_parameter(std::numeric_limits<std::int64_t>::min()), 0);
}

}  // namespace
