// The items on the table and what the gripper does to them.
#ifndef QUORVEL_ARM_SIM__TABLE_HPP_
#define QUORVEL_ARM_SIM__TABLE_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel_arm_sim
{

struct Item
{
  std::string name;
  std::uint8_t type = 1;
  // Where the gripper takes the item, in the arm's base frame, and how it is turned there
  // (a quaternion x, y, z, w; by default pointing straight down).
  std::array<double, 3> grab{};
  std::array<double, 4> grab_orientation{{0.0, 1.0, 0.0, 0.0}};
  // The item's bounding box: its centre (by default the grab position), its turn and its size.
  std::optional<std::array<double, 3>> obb_position;
  std::array<double, 4> obb_orientation{{0.0, 0.0, 0.0, 1.0}};
  std::array<double, 3> obb_size{{0.1, 0.1, 0.1}};
  // A stuck item never leaves the table, whatever the arm does to it.
  bool stuck = false;
};

// What became of the item in the gripper when the gripper opened.
enum class ItemFate
{
  kPicked,   // released over the bin after a successful release: gone from the table
  kDropped,  // its release failed; it fell where the gripper opened: gone from the table
  kLeft,     // the gripper opened at the grab pose: it stays on the table
  kStuck,    // it never moved: it stays on the table
};

struct ItemEvent
{
  ItemFate fate;
  std::size_t item;  // index into the scene's items
};

// The table's items and the gripper's hold on them. An item leaves the table when it was
// grabbed (its grab answered success), the gripper closed on it, and the gripper opened after a
// successful release (picked) or after a failed one (dropped). The close and the release answer
// may come in either order: the gripper command and the release request travel on different
// channels. Not thread-safe; the simulator owns it.
class Table
{
public:
  // `restock`: once a detection has reported the table empty, every item is put back, so that
  // the next task has work again.
  Table(std::vector<Item> items, bool restock);

  const std::vector<Item> & items() const { return items_; }

  // Indices of the items on the table, in table order. When that is none and restocking is on,
  // the items are back for the next call (restocked() tells).
  std::vector<std::size_t> detect();
  bool restocked() { return std::exchange(restocked_, false); }

  // The item on the table whose grab position is within 1e-6 of (x, y, z).
  std::optional<std::size_t> item_at(double x, double y, double z) const;

  // A grab starts: whatever the gripper held before is forgotten.
  void grab_started();
  // The grab answered; `item` is what it went for.
  void grab_answered(std::optional<std::size_t> item, bool success);
  // A release or joint move starts: the arm leaves the grab pose.
  void arm_moved_away();
  void release_answered(bool success);
  void gripper_closed();
  // What happened to the held item, if the gripper held one.
  std::optional<ItemEvent> gripper_opened();

  std::size_t on_table() const;
  std::size_t picked() const { return picked_; }
  std::size_t dropped() const { return dropped_; }

private:
  std::vector<Item> items_;
  std::vector<bool> gone_;
  bool restock_;
  bool restocked_ = false;
  std::size_t picked_ = 0;
  std::size_t dropped_ = 0;

  // Since the last grab started.
  std::optional<std::size_t> grabbed_;
  bool closed_ = false;
  bool moved_away_ = false;
  bool released_ok_ = false;
  bool release_failed_ = false;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__TABLE_HPP_
