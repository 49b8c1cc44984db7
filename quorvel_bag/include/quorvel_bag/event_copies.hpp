// Telling a task event apart from a copy of one already taken.
//
// The supervisor keeps its latest events for late joiners (transient local). A viewer cut off
// from it for longer than the DDS lease is, once the link is back, a late joiner again: it is
// sent that history once more. Within one run of the supervisor events are numbered and stamped
// in order, so an event no newer than the last one taken, by number and by stamp, is a copy. A
// restarted supervisor numbers from 1 again but stamps later, so its events are taken.
#ifndef QUORVEL_BAG__EVENT_COPIES_HPP_
#define QUORVEL_BAG__EVENT_COPIES_HPP_

#include <cstdint>

#include "quorvel_task_events/msg/task_event.hpp"

namespace quorvel_bag
{

class EventCopyFilter
{
public:
  using TaskEvent = quorvel_task_events::msg::TaskEvent;

  // True for an event not taken before (and takes it), false for a copy.
  bool take(const TaskEvent & event)
  {
    const std::int64_t stamp = static_cast<std::int64_t>(event.stamp.sec) * 1000000000LL +
                               static_cast<std::int64_t>(event.stamp.nanosec);
    if (known_ && event.seq <= last_seq_ && stamp <= last_stamp_ns_) {
      return false;
    }
    known_ = true;
    last_seq_ = event.seq;
    last_stamp_ns_ = stamp;
    return true;
  }

private:
  bool known_ = false;
  std::uint64_t last_seq_ = 0;
  std::int64_t last_stamp_ns_ = 0;
};

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__EVENT_COPIES_HPP_
