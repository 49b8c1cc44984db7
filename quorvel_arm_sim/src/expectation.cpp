#include "quorvel_arm_sim/expectation.hpp"

#include <cstdlib>
#include <sstream>

namespace quorvel_arm_sim
{

namespace
{

bool starts_with(const std::string & line, const std::string & prefix)
{
  return line.compare(0, prefix.size(), prefix) == 0;
}

// The integer at the start of `text` (after blanks), if there is one.
std::optional<long long> leading_integer(const std::string & text)
{
  const char * begin = text.c_str();
  char * end = nullptr;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin) {
    return std::nullopt;
  }
  return value;
}

std::string join(const std::set<std::int32_t> & codes)
{
  std::string text;
  for (const std::int32_t code : codes) {
    text += (text.empty() ? "" : ", ") + std::to_string(code);
  }
  return text.empty() ? "nothing" : text;
}

}  // namespace

TaskOutput read_task_output(std::istream & in)
{
  TaskOutput output;
  std::string line;
  while (std::getline(in, line)) {
    if (starts_with(line, "result: ")) {
      output.result = line.substr(8);
    } else if (starts_with(line, "error_code: ")) {
      if (const auto value = leading_integer(line.substr(12))) {
        output.error_code = static_cast<std::int32_t>(*value);
      }
    } else if (starts_with(line, "unable_grab_trashes: ")) {
      if (const auto value = leading_integer(line.substr(21)); value && *value >= 0) {
        output.unable_grab_trashes = static_cast<std::size_t>(*value);
      }
    }
  }
  return output;
}

std::set<std::int32_t> read_voice_codes(std::istream & in)
{
  std::set<std::int32_t> codes;
  std::string line;
  while (std::getline(in, line)) {
    if (starts_with(line, "voice: ")) {
      if (const auto value = leading_integer(line.substr(7))) {
        codes.insert(static_cast<std::int32_t>(*value));
      }
    }
  }
  return codes;
}

int count_recover_messages(std::istream & in)
{
  int count = 0;
  std::string line;
  while (std::getline(in, line)) {
    count += starts_with(line, "recover: ") ? 1 : 0;
  }
  return count;
}

ItemCounts count_item_events(std::istream & in)
{
  ItemCounts counts;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t open = line.find("item '");
    if (open == std::string::npos) {
      continue;
    }
    const std::size_t close = line.find('\'', open + 6);
    if (close == std::string::npos) {
      continue;
    }
    const std::string fate = line.substr(close + 1);
    if (starts_with(fate, " picked")) {
      ++counts.picked;
    } else if (starts_with(fate, " dropped")) {
      ++counts.dropped;
    }
  }
  return counts;
}

std::vector<std::string> differences(const Expectation & expect, const Observed & observed)
{
  std::vector<std::string> found;
  const auto compare = [&found](const std::string & what, long long got, long long want) {
    if (got != want) {
      found.push_back(what + ": got " + std::to_string(got) + ", expected " + std::to_string(want));
    }
  };
  const TaskOutput & task = observed.task;
  if (!task.result) {
    found.push_back("result: missing (the task printed no result)");
  } else if (*task.result != "succeeded") {
    found.push_back("result: got " + *task.result + ", expected succeeded");
  }
  if (!task.error_code) {
    found.push_back("error_code: missing, expected " + std::to_string(expect.error_code));
  } else {
    compare("error_code", *task.error_code, expect.error_code);
  }
  if (!task.unable_grab_trashes) {
    found.push_back(
        "unable_grab_trashes: missing, expected " + std::to_string(expect.unable_grab_trashes));
  } else {
    compare(
        "unable_grab_trashes",
        static_cast<long long>(*task.unable_grab_trashes),
        static_cast<long long>(expect.unable_grab_trashes));
  }
  if (observed.voice) {
    for (const std::int32_t code : expect.voice) {
      if (observed.voice->count(code) == 0) {
        found.push_back(
            "voice: " + std::to_string(code) + " never announced (heard: " + join(*observed.voice) +
            ")");
      }
    }
  }
  if (observed.recover_messages && expect.recover_messages) {
    compare("recover messages", *observed.recover_messages, *expect.recover_messages);
  }
  if (observed.items) {
    if (expect.picked) {
      compare("items picked", observed.items->picked, *expect.picked);
    }
    if (expect.dropped) {
      compare("items dropped", observed.items->dropped, *expect.dropped);
    }
  }
  return found;
}

std::string shell_lines(const Expectation & expect)
{
  std::ostringstream text;
  text << "error_code=" << expect.error_code << "\n";
  text << "unable_grab_trashes=" << expect.unable_grab_trashes << "\n";
  text << "voice=\"";
  for (std::size_t i = 0; i < expect.voice.size(); ++i) {
    text << (i == 0 ? "" : " ") << expect.voice[i];
  }
  text << "\"\n";
  if (expect.recover_messages) {
    text << "recover_messages=" << *expect.recover_messages << "\n";
  }
  if (expect.picked) {
    text << "picked=" << *expect.picked << "\n";
  }
  if (expect.dropped) {
    text << "dropped=" << *expect.dropped << "\n";
  }
  return text.str();
}

}  // namespace quorvel_arm_sim
