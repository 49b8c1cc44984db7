#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/yaml_config.hpp"

namespace qas = quorvel_arm_supervisor;
namespace fs = std::filesystem;

namespace
{

class YamlConfig : public testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (fs::temp_directory_path() / "quorvel_yaml_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    share_ = pattern;
    fs::create_directories(share_ / "config");
  }

  void TearDown() override
  {
    std::error_code ec;
    fs::remove_all(share_, ec);
  }

  // Writes config/<name> and returns the path the node would build for it.
  std::string write(const std::string & name, const std::string & text)
  {
    const std::string path = qas::joint_config_path(share_.string(), name);
    std::ofstream(path) << text;
    return path;
  }

  // The loader's message for `text`, or "" when it loads.
  std::string failure(const std::string & text)
  {
    const std::string path = write("bad.yaml", text);
    try {
      qas::load_joint_array_config(path);
    } catch (const qas::ConfigError & e) {
      return e.what();
    }
    return {};
  }

  std::string prefix() const
  {
    return "config file '" + qas::joint_config_path(share_.string(), "bad.yaml") + "': ";
  }

  fs::path share_;
};

TEST_F(YamlConfig, PathIsConcatenatedAsIs)
{
  EXPECT_EQ(qas::joint_config_path("/opt/share/pkg", "arm.yaml"), "/opt/share/pkg/config/arm.yaml");
  EXPECT_EQ(qas::joint_config_path("/opt/share/pkg", "/arm.yaml"),
    "/opt/share/pkg/config//arm.yaml");
  EXPECT_EQ(qas::joint_config_path("/opt/share/pkg", ""), "/opt/share/pkg/config/");
}

TEST_F(YamlConfig, ShippedFileHasFiveJointsPerArray)
{
  const auto config = qas::load_joint_array_config(std::string(QUORVEL_CONFIG_DIR) +
      "/arm_joints.yaml");
  for (const auto * array : {&config.release_joints, &config.observe_joints,
      &config.recover_movej_pos1, &config.recover_movej_pos2, &config.recover_movej_end_pos,
      &config.recover_movej_release_pos, &config.recover_movej_transition_pos})
  {
    EXPECT_EQ(array->data.size(), 5U);
    EXPECT_TRUE(array->layout.dim.empty());
  }
}

TEST_F(YamlConfig, EachKeyFillsItsOwnArrayInFileOrder)
{
  const auto config = qas::load_joint_array_config(write("all.yaml",
      "release_joints: [1, 2.5, -3]\n"
      "observe_joints: [0.1]\n"
      "recover_movej_pos1: [1.0, 1.1]\n"
      "recover_movej_pos2:\n  - 2.0\n  - 2.1\n  - 2.2\n"
      "recover_movej_end_pos: [3]\n"
      "recover_movej_release_pos: [4, 1e-05]\n"
      "recover_movej_transition_pos: [5, +7.25]\n"));
  EXPECT_EQ(config.release_joints.data, (std::vector<double>{1.0, 2.5, -3.0}));
  EXPECT_EQ(config.observe_joints.data, (std::vector<double>{0.1}));
  EXPECT_EQ(config.recover_movej_pos1.data, (std::vector<double>{1.0, 1.1}));
  EXPECT_EQ(config.recover_movej_pos2.data, (std::vector<double>{2.0, 2.1, 2.2}));
  EXPECT_EQ(config.recover_movej_end_pos.data, (std::vector<double>{3.0}));
  EXPECT_EQ(config.recover_movej_release_pos.data, (std::vector<double>{4.0, 1e-05}));
  EXPECT_EQ(config.recover_movej_transition_pos.data, (std::vector<double>{5.0, 7.25}));
}

TEST_F(YamlConfig, AbsentOrNonSequenceValuesGiveEmptyArrays)
{
  const auto two = qas::load_joint_array_config(write("two.yaml",
      "release_joints: [0.1, -1.2, 2.0]\nobserve_joints: [0, 0, 0, 0, 0]\nunrelated: [abc]\n"));
  EXPECT_EQ(two.release_joints.data.size(), 3U);
  EXPECT_EQ(two.observe_joints.data.size(), 5U);
  EXPECT_TRUE(two.recover_movej_pos1.data.empty());
  EXPECT_TRUE(two.recover_movej_pos2.data.empty());
  EXPECT_TRUE(two.recover_movej_end_pos.data.empty());
  EXPECT_TRUE(two.recover_movej_release_pos.data.empty());
  EXPECT_TRUE(two.recover_movej_transition_pos.data.empty());

  const auto odd = qas::load_joint_array_config(write("odd.yaml",
      "release_joints: 1.5\nobserve_joints: ~\nrecover_movej_pos1: []\n"
      "recover_movej_pos2: word\nrecover_movej_end_pos:\n"));
  EXPECT_TRUE(odd.release_joints.data.empty());
  EXPECT_TRUE(odd.observe_joints.data.empty());
  EXPECT_TRUE(odd.recover_movej_pos1.data.empty());
  EXPECT_TRUE(odd.recover_movej_pos2.data.empty());
  EXPECT_TRUE(odd.recover_movej_end_pos.data.empty());

  const auto empty = qas::load_joint_array_config(write("empty.yaml", "# nothing yet\n"));
  EXPECT_TRUE(empty.release_joints.data.empty());
}

TEST_F(YamlConfig, FileProblemsNameThePath)
{
  const std::string missing = qas::joint_config_path(share_.string(), "missing.yaml");
  try {
    qas::load_joint_array_config(missing);
    FAIL() << "a missing file loaded";
  } catch (const qas::ConfigError & e) {
    EXPECT_EQ(std::string(e.what()),
      "cannot open config file '" + missing + "': No such file or directory");
  }

  // An empty yaml_config_path leaves the config directory itself.
  const std::string directory = qas::joint_config_path(share_.string(), "");
  try {
    qas::load_joint_array_config(directory);
    FAIL() << "a directory loaded";
  } catch (const qas::ConfigError & e) {
    EXPECT_EQ(std::string(e.what()),
      "cannot open config file '" + directory + "': it is a directory");
  }

  EXPECT_EQ(failure("release_joints: [1, 2\n").rfind(prefix() + "not valid YAML: ", 0), 0U)
    << failure("release_joints: [1, 2\n");
}

TEST_F(YamlConfig, RootMustBeAMapping)
{
  EXPECT_EQ(failure("just a scalar\n"),
    prefix() + "root is not a mapping of joint arrays (line 1, column 1)");
  EXPECT_EQ(failure("- 1\n- 2\n"),
    prefix() + "root is not a mapping of joint arrays (line 1, column 1)");
}

TEST_F(YamlConfig, BadValuesNameKeyElementAndText)
{
  EXPECT_EQ(failure("release_joints:\n  a: 1\n"),
    prefix() + "key 'release_joints' is a mapping, expected a sequence of numbers (line 2, "
    "column 3)");
  EXPECT_EQ(failure("release_joints: [1]\nobserve_joints: [0.1, 0.2, abc]\n"),
    prefix() + "key 'observe_joints' element 2 ('abc') is not a number (line 2, column 28)");
  EXPECT_EQ(failure("recover_movej_pos2: [1, ~, 2]\n"),
    prefix() + "key 'recover_movej_pos2' element 1 (null) is not a number (line 1, column 25)");
  EXPECT_EQ(failure("recover_movej_pos2: [1, [2, 3]]\n"),
    prefix() + "key 'recover_movej_pos2' element 1 is a sequence, expected a number (line 1, "
    "column 25)");
  EXPECT_EQ(failure("recover_movej_pos2: [1, {a: 2}]\n"),
    prefix() + "key 'recover_movej_pos2' element 1 is a mapping, expected a number (line 1, "
    "column 25)");
  EXPECT_EQ(failure("observe_joints: [true]\n"),
    prefix() + "key 'observe_joints' element 0 ('true') is not a number (line 1, column 18)");
  EXPECT_EQ(failure("observe_joints: [0, .nan]\n"),
    prefix() + "key 'observe_joints' element 1 ('.nan') is not a finite number (line 1, "
    "column 21)");
  // A bad key further down still fails after good ones were read.
  EXPECT_NE(failure("release_joints: [1]\nrecover_movej_transition_pos: [x]\n"), "");
}

}  // namespace

namespace
{

TEST_F(YamlConfig, EachKeyIsReportedAsSoonAsItIsReadAndABadKeyStopsTheRest)
{
  // Keys in the file in another order than they are read: the reports follow the read order.
  const std::string path = write("fourth_bad.yaml",
    "recover_movej_pos2: [0.1, word, 0.3]\n"
    "observe_joints: [0, 0.5]\n"
    "release_joints: [1.5, -2]\n"
    "recover_movej_pos1: []\n"
    "recover_movej_end_pos: [7]\n");
  std::vector<std::string> reported;
  try {
    qas::load_joint_array_config(path, [&reported](std::string_view key, const auto & array) {
      reported.push_back(std::string(key) + ":" + std::to_string(array.data.size()));
    });
    FAIL() << "the word in recover_movej_pos2 was accepted";
  } catch (const qas::ConfigError & error) {
    EXPECT_EQ(std::string(error.what()), "config file '" + path +
      "': key 'recover_movej_pos2' element 1 ('word') is not a number (line 1, column 27)");
  }
  EXPECT_EQ(reported,
    (std::vector<std::string>{"release_joints:2", "observe_joints:2", "recover_movej_pos1:0"}));

  // A good file reports all seven keys once, in order, with the arrays the result holds.
  std::vector<std::string> keys;
  const auto config = qas::load_joint_array_config(
    write("good.yaml", "observe_joints: [3]\n"), [&keys](std::string_view key, const auto &) {
      keys.emplace_back(key);
    });
  EXPECT_EQ(keys, std::vector<std::string>(qas::kJointArrayKeys.begin(),
    qas::kJointArrayKeys.end()));
  EXPECT_EQ(config.observe_joints.data, std::vector<double>{3.0});
}

}  // namespace
