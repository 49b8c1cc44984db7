// A bag described for a person: what `ros2 bag info` prints, then the tasks found in it.
#ifndef QUORVEL_TOOLS__BAG_TEXT_HPP_
#define QUORVEL_TOOLS__BAG_TEXT_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"

namespace quorvel_tools
{

/// "12.3 KiB", as ros2 bag info sizes files.
std::string format_bag_size(std::uintmax_t bytes);

/// "Dec  8 2025 04:32:10.123 (1765168330.123)" in local time.
std::string format_bag_time(std::int64_t ns_since_epoch);

/// The summary `ros2 bag info` prints: files, size, storage, duration, start, end, messages,
/// topics with type, count and serialization format.
std::string format_bag_summary(const quorvel_bag::BagReader & reader);

/// The topics whose type is not decoded here (listed above, not read), one line each; empty
/// when there are none.
std::string format_undecoded_topics(const quorvel_bag::BagReader & reader);

/// The tasks: goal id, start, duration, outcome, error code with its meaning, steps, given-up
/// trashes.
std::string format_tasks(const std::vector<quorvel_bag::TaskRecord> & tasks);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__BAG_TEXT_HPP_
