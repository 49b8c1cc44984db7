#include "quorvel_arm_sim/scene_writer.hpp"

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace quorvel_arm_sim
{

namespace
{

std::string quoted(const std::string & text)
{
  YAML::Emitter out;
  out << YAML::DoubleQuoted << text;
  return out.c_str();
}

template <typename Values>
std::string list(const Values & values)
{
  std::string text = "[";
  bool first = true;
  for (const double value : values) {
    text += (first ? "" : ", ") + number_text(value);
    first = false;
  }
  return text + "]";
}

// Appends `line` and its note, if `notes` has one for `key`.
class Lines
{
public:
  explicit Lines(const SceneNotes & notes) : notes_(notes) {}

  void add(const std::string & line, const std::string & key = "")
  {
    std::string text = line;
    const auto note = key.empty() ? notes_.end() : notes_.find(key);
    if (note != notes_.end() && !note->second.empty()) {
      std::string comment = note->second;
      for (char & c : comment) {
        if (c == '\n' || c == '\r') {
          c = ' ';
        }
      }
      text += "  # " + comment;
    }
    text_ << text << "\n";
  }

  void comment(const std::string & line)
  {
    text_ << (line.empty() ? "#" : "# " + line) << "\n";
  }

  std::string str() const { return text_.str(); }

private:
  const SceneNotes & notes_;
  std::ostringstream text_;
};

std::string item_text(const Item & item)
{
  const Item defaults;
  std::string text = "{name: " + quoted(item.name) +
                     ", type: " + std::to_string(static_cast<unsigned>(item.type)) +
                     ", grab: " + list(item.grab);
  if (item.grab_orientation != defaults.grab_orientation) {
    text += ", grab_orientation: " + list(item.grab_orientation);
  }
  if (item.obb_position) {
    text += ", obb_position: " + list(*item.obb_position);
  }
  if (item.obb_orientation != defaults.obb_orientation) {
    text += ", obb_orientation: " + list(item.obb_orientation);
  }
  text += ", obb_size: " + list(item.obb_size);
  if (item.stuck) {
    text += ", stuck: true";
  }
  return text + "}";
}

std::string abnormal_text(const Abnormality & abnormal)
{
  switch (abnormal.kind) {
    case Abnormality::Kind::kFor:
      return "{for: " + number_text(abnormal.seconds) + "}";
    case Abnormality::Kind::kUntilRecovers:
      return "{until_recovers: " + std::to_string(abnormal.recovers) + "}";
    case Abnormality::Kind::kForever:
      return "{forever: true}";
  }
  return "{forever: true}";
}

std::string fault_text(const Fault & fault)
{
  std::vector<std::string> parts;
  if (fault.service) {
    parts.push_back(std::string("service: ") + service_name(*fault.service));
    parts.push_back("call: " + std::to_string(fault.call));
    if (fault.times != 1) {
      parts.push_back("times: " + std::to_string(fault.times));
    }
  } else if (fault.at) {
    parts.push_back("at: " + number_text(*fault.at));
  }
  if (fault.status) {
    parts.push_back("status: " + std::to_string(*fault.status));
    if (!fault.errmsg.empty()) {
      parts.push_back("errmsg: " + quoted(fault.errmsg));
    }
  }
  if (fault.latency) {
    parts.push_back("latency: " + number_text(*fault.latency));
  }
  if (fault.never_answer) {
    parts.push_back("never_answer: true");
  }
  if (fault.abnormal) {
    parts.push_back("abnormal: " + abnormal_text(*fault.abnormal));
  }
  if (fault.stop_short) {
    parts.push_back(
        "stop_short: {joint: " + std::to_string(fault.stop_short->joint + 1) +
        ", by: " + number_text(fault.stop_short->by) + "}");
  }
  if (fault.short_feedback) {
    std::string text = "short_feedback: {values: " + std::to_string(fault.short_feedback->values);
    if (fault.short_feedback->seconds) {
      text += ", for: " + number_text(*fault.short_feedback->seconds);
    }
    parts.push_back(text + "}");
  }
  if (fault.env_object) {
    std::string text = "env_object: {x: " + number_text(fault.env_object->x) +
                       ", y: " + number_text(fault.env_object->y);
    if (fault.env_object->seconds) {
      text += ", for: " + number_text(*fault.env_object->seconds);
    }
    parts.push_back(text + "}");
  }
  std::string text = "{";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : ", ") + parts[i];
  }
  return text + "}";
}

}  // namespace

std::string number_text(double value)
{
  if (value == 0.0) {
    return "0";
  }
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) {
      break;
    }
  }
  return text;
}

double float_as_written(float value)
{
  char text[40];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) {
      break;
    }
  }
  return std::strtod(text, nullptr);
}

std::string write_scene(
    const Scene & scene, const SceneNotes & notes, const std::vector<std::string> & header)
{
  Lines out(notes);
  for (const std::string & line : header) {
    out.comment(line);
  }
  if (!scene.description.empty()) {
    out.add("description: " + quoted(scene.description), "description");
  }
  if (scene.origin) {
    std::string text = "origin: {";
    std::string sep;
    if (!scene.origin->bag.empty()) {
      text += "bag: " + quoted(scene.origin->bag);
      sep = ", ";
    }
    if (scene.origin->task) {
      text += sep + "task: " + std::to_string(*scene.origin->task);
      sep = ", ";
    }
    if (!scene.origin->goal.empty()) {
      text += sep + "goal: " + quoted(scene.origin->goal);
    }
    out.add(text + "}", "origin");
  }
  if (!scene.supervisor.empty()) {
    out.add("supervisor:", "supervisor");
    for (const SupervisorSetting & setting : scene.supervisor) {
      out.add("  " + setting.name + ": " + setting.value_text(), "supervisor." + setting.name);
    }
  }
  out.add("arm:", "arm");
  out.add("  joint_speed: " + number_text(scene.joint_speed), "arm.joint_speed");
  out.add("  start_joints: " + list(scene.start_joints), "arm.start_joints");
  out.add("detect_latency: " + number_text(scene.detect_latency), "detect_latency");
  out.add("table:", "table");
  if (scene.restock) {
    out.add("  restock: true", "table.restock");
  }
  if (scene.items.empty()) {
    out.add("  items: []", "table.items");
  } else {
    out.add("  items:", "table.items");
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
      out.add(
          "    - " + item_text(scene.items[i]), "table.items[" + std::to_string(i) + "]");
    }
  }
  if (!scene.faults.empty()) {
    out.add("faults:", "faults");
    for (std::size_t i = 0; i < scene.faults.size(); ++i) {
      out.add("  - " + fault_text(scene.faults[i]), "faults[" + std::to_string(i) + "]");
    }
  }
  const Expectation & expect = scene.expect;
  out.add("expect:", "expect");
  out.add("  error_code: " + std::to_string(expect.error_code), "expect.error_code");
  out.add(
      "  unable_grab_trashes: " + std::to_string(expect.unable_grab_trashes),
      "expect.unable_grab_trashes");
  if (!expect.voice.empty()) {
    std::string codes;
    for (const std::int32_t code : expect.voice) {
      codes += (codes.empty() ? "" : ", ") + std::to_string(code);
    }
    out.add("  voice: [" + codes + "]", "expect.voice");
  }
  if (expect.recover_messages) {
    out.add(
        "  recover_messages: " + std::to_string(*expect.recover_messages),
        "expect.recover_messages");
  }
  if (expect.picked) {
    out.add("  picked: " + std::to_string(*expect.picked), "expect.picked");
  }
  if (expect.dropped) {
    out.add("  dropped: " + std::to_string(*expect.dropped), "expect.dropped");
  }
  return out.str();
}

}  // namespace quorvel_arm_sim
