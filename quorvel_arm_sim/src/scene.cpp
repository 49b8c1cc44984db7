#include "quorvel_arm_sim/scene.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <set>
#include <sstream>

namespace quorvel_arm_sim
{

namespace
{

// Walks one scene document and turns every problem into a SceneError that names the file, the
// key and the position of the offending node.
class SceneReader
{
public:
  explicit SceneReader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void fail(
      const YAML::Node & at, const std::string & key, const std::string & what) const
  {
    std::ostringstream text;
    text << file_;
    const YAML::Mark mark = at.Mark();
    if (mark.line >= 0 && mark.column >= 0) {
      text << ":" << mark.line + 1 << ":" << mark.column + 1;
    }
    text << ": " << (key.empty() ? "" : key + ": ") << what;
    throw SceneError(text.str());
  }

  void expect_map(const YAML::Node & node, const std::string & key) const
  {
    if (!node.IsMap()) {
      fail(node, key, "expected a mapping of keys, got " + describe(node));
    }
  }

  void only_keys(
      const YAML::Node & map,
      const std::string & path,
      std::initializer_list<const char *> allowed) const
  {
    expect_map(map, path);
    for (const auto & entry : map) {
      const std::string key = entry.first.Scalar();
      bool known = false;
      std::string list;
      for (const char * name : allowed) {
        known = known || key == name;
        list += (list.empty() ? "" : ", ") + std::string(name);
      }
      if (!known) {
        fail(entry.first, join(path, key), "unknown key (allowed here: " + list + ")");
      }
    }
  }

  YAML::Node required(const YAML::Node & map, const std::string & path, const char * key) const
  {
    const YAML::Node node = map[key];
    if (!node.IsDefined() || node.IsNull()) {
      fail(map, join(path, key), "required key is missing");
    }
    return node;
  }

  double number(const YAML::Node & node, const std::string & key) const
  {
    scalar(node, key, "a number");
    double value = 0.0;
    try {
      value = node.as<double>();
    } catch (const YAML::Exception &) {
      fail(node, key, "expected a number, got '" + node.Scalar() + "'");
    }
    if (!std::isfinite(value)) {
      fail(node, key, "expected a finite number, got '" + node.Scalar() + "'");
    }
    return value;
  }

  double positive(const YAML::Node & node, const std::string & key) const
  {
    const double value = number(node, key);
    if (value <= 0.0) {
      fail(node, key, "must be greater than 0, got " + node.Scalar());
    }
    return value;
  }

  long long integer(
      const YAML::Node & node, const std::string & key, long long low, long long high) const
  {
    scalar(node, key, "an integer");
    long long value = 0;
    try {
      value = node.as<long long>();
    } catch (const YAML::Exception &) {
      fail(node, key, "expected an integer, got '" + node.Scalar() + "'");
    }
    if (value < low || value > high) {
      fail(
          node,
          key,
          "must be between " + std::to_string(low) + " and " + std::to_string(high) + ", got " +
              node.Scalar());
    }
    return value;
  }

  bool boolean(const YAML::Node & node, const std::string & key) const
  {
    scalar(node, key, "true or false");
    try {
      return node.as<bool>();
    } catch (const YAML::Exception &) {
      fail(node, key, "expected true or false, got '" + node.Scalar() + "'");
    }
  }

  std::string text(const YAML::Node & node, const std::string & key) const
  {
    if (!node.IsScalar()) {
      fail(node, key, "expected a text, got " + describe(node));
    }
    return node.Scalar();
  }

  std::vector<double> numbers(
      const YAML::Node & node, const std::string & key, std::size_t count) const
  {
    if (!node.IsSequence() || node.size() != count) {
      fail(
          node,
          key,
          "expected a list of " + std::to_string(count) + " numbers, got " + describe(node));
    }
    std::vector<double> values;
    for (std::size_t i = 0; i < node.size(); ++i) {
      values.push_back(number(node[i], key + "[" + std::to_string(i) + "]"));
    }
    return values;
  }

  static std::string join(const std::string & path, const std::string & key)
  {
    return path.empty() ? key : path + "." + key;
  }

private:
  void scalar(const YAML::Node & node, const std::string & key, const char * wanted) const
  {
    if (!node.IsScalar()) {
      fail(node, key, std::string("expected ") + wanted + ", got " + describe(node));
    }
    // A quoted scalar is a text even when it looks like a number.
    if (node.Tag() == "!") {
      fail(node, key, std::string("expected ") + wanted + ", got the text '" + node.Scalar() + "'");
    }
  }

  static std::string describe(const YAML::Node & node)
  {
    switch (node.Type()) {
      case YAML::NodeType::Map:
        return "a mapping";
      case YAML::NodeType::Sequence:
        return "a list of " + std::to_string(node.size());
      case YAML::NodeType::Scalar:
        return "'" + node.Scalar() + "'";
      case YAML::NodeType::Null:
        return "nothing";
      case YAML::NodeType::Undefined:
        return "nothing";
    }
    return "something else";
  }

  std::string file_;
};

constexpr long long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr long long kInt32Max = std::numeric_limits<std::int32_t>::max();

void read_arm(const SceneReader & r, const YAML::Node & arm, Scene & scene)
{
  r.only_keys(arm, "arm", {"joint_speed", "start_joints"});
  scene.joint_speed = r.positive(r.required(arm, "arm", "joint_speed"), "arm.joint_speed");
  scene.start_joints =
      to_joints(r.numbers(r.required(arm, "arm", "start_joints"), "arm.start_joints", kJointCount));
}

void read_table(const SceneReader & r, const YAML::Node & table, Scene & scene)
{
  r.only_keys(table, "table", {"restock", "items"});
  if (table["restock"]) {
    scene.restock = r.boolean(table["restock"], "table.restock");
  }
  const YAML::Node items = r.required(table, "table", "items");
  if (!items.IsSequence()) {
    r.fail(items, "table.items", "expected a list of items");
  }
  std::set<std::string> names;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string path = "table.items[" + std::to_string(i) + "]";
    const YAML::Node node = items[i];
    r.only_keys(
        node,
        path,
        {"name", "type", "grab", "grab_orientation", "obb_position", "obb_orientation", "obb_size",
         "stuck"});
    Item item;
    const YAML::Node name = r.required(node, path, "name");
    item.name = r.text(name, path + ".name");
    if (item.name.empty() || item.name.find_first_of("'\n\r\t") != std::string::npos) {
      r.fail(name, path + ".name", "must be a non-empty name without quotes or line breaks");
    }
    if (!names.insert(item.name).second) {
      r.fail(name, path + ".name", "another item is already called '" + item.name + "'");
    }
    if (node["type"]) {
      item.type = static_cast<std::uint8_t>(r.integer(node["type"], path + ".type", 0, 255));
    }
    const auto grab = r.numbers(r.required(node, path, "grab"), path + ".grab", 3);
    std::copy(grab.begin(), grab.end(), item.grab.begin());
    if (node["grab_orientation"]) {
      const auto turn = r.numbers(node["grab_orientation"], path + ".grab_orientation", 4);
      std::copy(turn.begin(), turn.end(), item.grab_orientation.begin());
    }
    if (node["obb_position"]) {
      const auto centre = r.numbers(node["obb_position"], path + ".obb_position", 3);
      item.obb_position.emplace();
      std::copy(centre.begin(), centre.end(), item.obb_position->begin());
    }
    if (node["obb_orientation"]) {
      const auto turn = r.numbers(node["obb_orientation"], path + ".obb_orientation", 4);
      std::copy(turn.begin(), turn.end(), item.obb_orientation.begin());
    }
    if (node["obb_size"]) {
      const auto size = r.numbers(node["obb_size"], path + ".obb_size", 3);
      std::copy(size.begin(), size.end(), item.obb_size.begin());
    }
    if (node["stuck"]) {
      item.stuck = r.boolean(node["stuck"], path + ".stuck");
    }
    scene.items.push_back(item);
  }
}

std::optional<double> optional_duration(
    const SceneReader & r, const YAML::Node & map, const std::string & path)
{
  if (!map["for"]) {
    return std::nullopt;
  }
  return r.positive(map["for"], path + ".for");
}

Abnormality read_abnormal(const SceneReader & r, const YAML::Node & node, const std::string & path)
{
  r.only_keys(node, path, {"for", "until_recovers", "forever"});
  if (node.size() != 1) {
    r.fail(node, path, "give exactly one of for (seconds), until_recovers (count), forever: true");
  }
  Abnormality detail;
  if (node["for"]) {
    detail.kind = Abnormality::Kind::kFor;
    detail.seconds = r.positive(node["for"], path + ".for");
  } else if (node["until_recovers"]) {
    detail.kind = Abnormality::Kind::kUntilRecovers;
    detail.recovers =
        static_cast<int>(r.integer(node["until_recovers"], path + ".until_recovers", 1, 1000000));
  } else {
    if (!r.boolean(node["forever"], path + ".forever")) {
      r.fail(node["forever"], path + ".forever", "only 'forever: true' means anything");
    }
    detail.kind = Abnormality::Kind::kForever;
  }
  return detail;
}

Fault read_fault(const SceneReader & r, const YAML::Node & node, std::size_t index)
{
  const std::string path = "faults[" + std::to_string(index) + "]";
  r.only_keys(
      node,
      path,
      {"service",
       "call",
       "times",
       "at",
       "status",
       "errmsg",
       "latency",
       "never_answer",
       "abnormal",
       "stop_short",
       "short_feedback",
       "env_object"});
  Fault fault;
  fault.number = index + 1;
  if (node["service"] && node["at"]) {
    r.fail(node, path, "give either service (with call) or at, not both");
  }
  if (node["service"]) {
    const std::string name = r.text(node["service"], path + ".service");
    fault.service = parse_service(name);
    if (!fault.service) {
      r.fail(
          node["service"],
          path + ".service",
          "unknown service '" + name + "' (known: detect, grab, release, movejoints)");
    }
    fault.call = static_cast<int>(
        r.integer(r.required(node, path, "call"), path + ".call", 1, kInt32Max / 2));
    if (node["times"]) {
      fault.times = static_cast<int>(r.integer(node["times"], path + ".times", 1, kInt32Max / 2));
    }
  } else if (node["at"]) {
    fault.at = r.number(node["at"], path + ".at");
    if (*fault.at < 0.0) {
      r.fail(node["at"], path + ".at", "must be 0 or more seconds, got " + node["at"].Scalar());
    }
    for (const char * key : {"call", "times"}) {
      if (node[key]) {
        r.fail(node[key], path + "." + key, "belongs to a service trigger; this fault has 'at'");
      }
    }
  } else {
    r.fail(node, path, "needs a trigger: service and call, or at (seconds after the task started)");
  }

  const std::string service = fault.service ? service_name(*fault.service) : "";
  const auto needs_call = [&](const char * key) {
    if (node[key] && !fault.service) {
      r.fail(node[key], path + "." + key, "needs a service trigger (service and call)");
    }
  };
  needs_call("status");
  needs_call("latency");
  needs_call("never_answer");
  needs_call("stop_short");
  if (node["status"]) {
    fault.status = static_cast<std::int32_t>(
        r.integer(node["status"], path + ".status", kInt32Min, kInt32Max));
  }
  if (node["errmsg"]) {
    if (!node["status"]) {
      r.fail(node["errmsg"], path + ".errmsg", "goes with a status");
    }
    fault.errmsg = r.text(node["errmsg"], path + ".errmsg");
  }
  if (node["latency"]) {
    fault.latency = r.number(node["latency"], path + ".latency");
    if (*fault.latency < 0.0) {
      r.fail(node["latency"], path + ".latency", "must be 0 or more seconds, got " + node["latency"].Scalar());
    }
  }
  if (node["never_answer"]) {
    fault.never_answer = r.boolean(node["never_answer"], path + ".never_answer");
    if (fault.never_answer && fault.latency) {
      r.fail(node["latency"], path + ".latency", "an answer that never comes has no latency");
    }
    if (fault.never_answer && fault.service != Service::kDetect) {
      r.fail(
          node["never_answer"],
          path + ".never_answer",
          "only a detection may go unanswered (the arm services always answer), not " + service);
    }
    if (fault.never_answer && fault.status) {
      r.fail(node["status"], path + ".status", "an answer that never comes has no status");
    }
  }
  if (node["abnormal"]) {
    fault.abnormal = read_abnormal(r, node["abnormal"], path + ".abnormal");
  }
  if (node["stop_short"]) {
    const YAML::Node stop = node["stop_short"];
    const std::string key = path + ".stop_short";
    if (fault.service == Service::kDetect) {
      r.fail(stop, key, "a detection moves no joint");
    }
    r.only_keys(stop, key, {"joint", "by"});
    StopShortFault detail;
    detail.joint = static_cast<std::size_t>(
        r.integer(r.required(stop, key, "joint"), key + ".joint", 1, kJointCount) - 1);
    detail.by = r.positive(r.required(stop, key, "by"), key + ".by");
    fault.stop_short = detail;
  }
  if (node["short_feedback"]) {
    const YAML::Node feedback = node["short_feedback"];
    const std::string key = path + ".short_feedback";
    r.only_keys(feedback, key, {"values", "for"});
    ShortFeedbackFault detail;
    detail.values = static_cast<std::size_t>(
        r.integer(r.required(feedback, key, "values"), key + ".values", 0, kJointCount - 1));
    detail.seconds = optional_duration(r, feedback, key);
    fault.short_feedback = detail;
  }
  if (node["env_object"]) {
    const YAML::Node object = node["env_object"];
    const std::string key = path + ".env_object";
    r.only_keys(object, key, {"x", "y", "for"});
    EnvObjectFault detail;
    detail.x = r.number(r.required(object, key, "x"), key + ".x");
    detail.y = r.number(r.required(object, key, "y"), key + ".y");
    detail.seconds = optional_duration(r, object, key);
    fault.env_object = detail;
  }
  if (!fault.status && !fault.latency && !fault.never_answer && !fault.abnormal &&
      !fault.stop_short && !fault.short_feedback && !fault.env_object) {
    r.fail(
        node,
        path,
        "has no effect: give status, latency, never_answer, abnormal, stop_short, "
        "short_feedback or env_object");
  }
  return fault;
}

void read_supervisor(const SceneReader & r, const YAML::Node & node, Scene & scene)
{
  r.expect_map(node, "supervisor");
  const auto & parameters = supervisor_parameters();
  std::string allowed;
  for (const SupervisorParameter & parameter : parameters) {
    allowed += (allowed.empty() ? "" : ", ") + std::string(parameter.name);
  }
  for (const auto & entry : node) {
    const std::string key = entry.first.Scalar();
    const std::string path = "supervisor." + key;
    const auto parameter = std::find_if(
        parameters.begin(), parameters.end(), [&key](const SupervisorParameter & p) {
          return key == p.name;
        });
    if (parameter == parameters.end()) {
      r.fail(entry.first, path, "unknown key (allowed here: " + allowed + ")");
    }
    SupervisorSetting setting;
    setting.name = key;
    setting.integer = parameter->integer;
    if (parameter->integer) {
      setting.int_value = r.integer(
          entry.second,
          path,
          static_cast<long long>(parameter->low),
          static_cast<long long>(parameter->high));
    } else {
      setting.double_value = r.number(entry.second, path);
      const bool too_low = parameter->low_open ? !(setting.double_value > parameter->low)
                                               : setting.double_value < parameter->low;
      if (too_low || setting.double_value > parameter->high) {
        std::ostringstream range;
        range << (parameter->low_open ? "must be greater than " : "must be at least ")
              << parameter->low << " and at most " << parameter->high << ", got "
              << entry.second.Scalar();
        r.fail(entry.second, path, range.str());
      }
    }
    scene.supervisor.push_back(setting);
  }
}

void read_origin(const SceneReader & r, const YAML::Node & node, Scene & scene)
{
  r.only_keys(node, "origin", {"bag", "task", "goal"});
  Origin origin;
  if (node["bag"]) {
    origin.bag = r.text(node["bag"], "origin.bag");
  }
  if (node["task"]) {
    origin.task = static_cast<int>(r.integer(node["task"], "origin.task", 1, kInt32Max));
  }
  if (node["goal"]) {
    origin.goal = r.text(node["goal"], "origin.goal");
    if (origin.goal.size() != 32 ||
        origin.goal.find_first_not_of("0123456789abcdef") != std::string::npos) {
      r.fail(
          node["goal"],
          "origin.goal",
          "expected a goal id of 32 lower-case hex digits, got '" + origin.goal + "'");
    }
  }
  scene.origin = origin;
}

void read_expect(const SceneReader & r, const YAML::Node & node, Expectation & expect)
{
  r.only_keys(
      node,
      "expect",
      {"error_code", "unable_grab_trashes", "voice", "recover_messages", "picked", "dropped"});
  expect.error_code = static_cast<std::int32_t>(r.integer(
      r.required(node, "expect", "error_code"), "expect.error_code", kInt32Min, kInt32Max));
  expect.unable_grab_trashes = static_cast<std::size_t>(r.integer(
      r.required(node, "expect", "unable_grab_trashes"), "expect.unable_grab_trashes", 0, 1000000));
  if (node["voice"]) {
    const YAML::Node voice = node["voice"];
    if (!voice.IsSequence()) {
      r.fail(voice, "expect.voice", "expected a list of voice codes");
    }
    for (std::size_t i = 0; i < voice.size(); ++i) {
      expect.voice.push_back(static_cast<std::int32_t>(
          r.integer(voice[i], "expect.voice[" + std::to_string(i) + "]", kInt32Min, kInt32Max)));
    }
  }
  const auto count = [&](const char * key, std::optional<int> & into) {
    if (node[key]) {
      into = static_cast<int>(r.integer(node[key], std::string("expect.") + key, 0, 1000000));
    }
  };
  count("recover_messages", expect.recover_messages);
  count("picked", expect.picked);
  count("dropped", expect.dropped);
}

std::string stem(const std::string & path)
{
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string suffix = ".yaml";
  if (name.size() > suffix.size() &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.resize(name.size() - suffix.size());
  }
  return name;
}

}  // namespace

const std::vector<SupervisorParameter> & supervisor_parameters()
{
  // Counts and waits are integers (waits in ms); limits and distances are doubles.
  static const std::vector<SupervisorParameter> parameters{
      {"detect_frame_num", true, 1, false, 1000000},
      {"arm_recover_count_threshold", true, 0, false, 1000000},
      {"arm_movejoints_time_threshold", false, 0, true, 1000000},
      {"detect_timeout_threshold", false, 0, true, 1000000},
      {"position_radius_threshold", false, 0, true, 1000000},
      {"grab_count_threshold", true, 1, false, 1000000},
      {"init_detect_delay", true, 0, false, 3600000},
      {"gripper_open_delay", true, 0, false, 3600000},
      {"gripper_close_delay", true, 0, false, 3600000},
      {"gripper_release_delay", true, 0, false, 3600000},
      {"arm_voice_broadcast_delay", true, 0, false, 3600000},
      {"recover_movej_delay", true, 0, false, 3600000},
      {"env_stop_threshold", false, 0, true, 1000000},
      {"angle_delta_threshold", false, 0, true, 1000000},
  };
  return parameters;
}

std::string SupervisorSetting::value_text() const
{
  if (integer) {
    return std::to_string(int_value);
  }
  // Plain decimals with the fewest digits that read back as the same value, and always a
  // decimal point: the supervisor takes "15" for an integer and refuses it.
  char text[400];
  for (int decimals = 1; decimals <= 17; ++decimals) {
    std::snprintf(text, sizeof text, "%.*f", decimals, double_value);
    if (std::strtod(text, nullptr) == double_value) {
      return text;
    }
  }
  std::snprintf(text, sizeof text, "%.17g", double_value);
  return text;
}

std::string SupervisorSetting::argument() const { return name + ":=" + value_text(); }

Scene parse_scene(const std::string & text, const std::string & file)
{
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::ParserException & error) {
    std::ostringstream message;
    message << file << ":" << error.mark.line + 1 << ":" << error.mark.column + 1
            << ": YAML syntax error: " << error.msg;
    throw SceneError(message.str());
  }
  const SceneReader r(file);
  if (!root.IsMap()) {
    r.fail(
        root,
        "",
        "a scene is a mapping with the keys arm, table, expect (and description, "
        "detect_latency, faults)");
  }
  r.only_keys(
      root,
      "",
      {"description", "origin", "supervisor", "arm", "detect_latency", "table", "faults",
       "expect"});

  Scene scene;
  scene.file = file;
  scene.name = stem(file);
  if (root["description"]) {
    scene.description = r.text(root["description"], "description");
  }
  if (root["origin"]) {
    read_origin(r, root["origin"], scene);
  }
  if (root["supervisor"]) {
    read_supervisor(r, root["supervisor"], scene);
  }
  read_arm(r, r.required(root, "", "arm"), scene);
  if (root["detect_latency"]) {
    scene.detect_latency = r.number(root["detect_latency"], "detect_latency");
    if (scene.detect_latency < 0.0) {
      r.fail(root["detect_latency"], "detect_latency", "must be 0 or more seconds");
    }
  }
  read_table(r, r.required(root, "", "table"), scene);
  if (root["faults"]) {
    const YAML::Node faults = root["faults"];
    if (!faults.IsSequence()) {
      r.fail(faults, "faults", "expected a list of faults");
    }
    for (std::size_t i = 0; i < faults.size(); ++i) {
      scene.faults.push_back(read_fault(r, faults[i], i));
    }
  }
  read_expect(r, r.required(root, "", "expect"), scene.expect);
  return scene;
}

Scene load_scene_file(const std::string & path)
{
  std::ifstream in(path);
  if (!in) {
    throw SceneError(path + ": cannot read the scene file: " + std::strerror(errno));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse_scene(text.str(), path);
}

bool names_scene_file(const std::string & scene)
{
  const std::string suffix = ".yaml";
  return scene.find('/') != std::string::npos ||
         (scene.size() >= suffix.size() &&
          scene.compare(scene.size() - suffix.size(), suffix.size(), suffix) == 0);
}

std::string scene_path(const std::string & scene, const std::string & share_dir)
{
  return names_scene_file(scene) ? scene : share_dir + "/scenes/" + scene + ".yaml";
}

Scene scaled(Scene scene, double speed)
{
  scene.joint_speed *= speed;
  scene.detect_latency /= speed;
  for (Fault & fault : scene.faults) {
    if (fault.at) {
      *fault.at /= speed;
    }
    if (fault.latency) {
      *fault.latency /= speed;
    }
    if (fault.abnormal && fault.abnormal->kind == Abnormality::Kind::kFor) {
      fault.abnormal->seconds /= speed;
    }
    if (fault.short_feedback && fault.short_feedback->seconds) {
      *fault.short_feedback->seconds /= speed;
    }
    if (fault.env_object && fault.env_object->seconds) {
      *fault.env_object->seconds /= speed;
    }
  }
  return scene;
}

}  // namespace quorvel_arm_sim
