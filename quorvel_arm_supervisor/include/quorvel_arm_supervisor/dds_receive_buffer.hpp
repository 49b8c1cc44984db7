// Cyclone DDS's receive buffer for a supervisor that runs for weeks.
//
// Cyclone hands out its receive buffer (1 MiB by default) a piece at a time, so its pages
// become resident one after the other over hours of tasks until all of it is. A buffer of
// 128 KiB in chunks of 32 KiB is resident within minutes and then stays flat; a supervisor's
// messages are small (the largest UDP datagram Cyclone receives by default is 14,720 bytes).
#ifndef QUORVEL_ARM_SUPERVISOR__DDS_RECEIVE_BUFFER_HPP_
#define QUORVEL_ARM_SUPERVISOR__DDS_RECEIVE_BUFFER_HPP_

#include <optional>
#include <string>

namespace quorvel_arm_supervisor
{

// The fragment put before the user's own Cyclone configuration.
extern const char * const kReceiveBufferFragment;

// The value CYCLONEDDS_URI should have for the supervisor, given its current value (nullptr when
// unset), or nothing when it is to be left as it is. Cyclone applies the fragments of the list
// in order and a later single setting overrides an earlier one, so ours goes first and any
// setting of the user's wins. A configuration that sizes the receive buffer or the largest
// message itself (inline or in a file it names) is left alone entirely: a chunk of ours could
// be smaller than the messages it allows. So is one naming a file that cannot be read.
std::optional<std::string> uri_with_receive_buffer(const char * user_uri);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__DDS_RECEIVE_BUFFER_HPP_
