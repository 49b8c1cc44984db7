#include "quorvel_arm_sim/table.hpp"

#include <cmath>

namespace quorvel_arm_sim
{

namespace
{

// The supervisor sends back the grab position it was given, digit for digit; the tolerance only
// absorbs a round trip through another representation.
constexpr double kSamePosition = 1e-6;

}  // namespace

Table::Table(std::vector<Item> items, bool restock)
    : items_(std::move(items)), gone_(items_.size(), false), restock_(restock)
{
}

std::vector<std::size_t> Table::detect()
{
  std::vector<std::size_t> present;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (!gone_[i]) {
      present.push_back(i);
    }
  }
  if (present.empty() && restock_ && !items_.empty()) {
    gone_.assign(items_.size(), false);
    restocked_ = true;
  }
  return present;
}

std::optional<std::size_t> Table::item_at(double x, double y, double z) const
{
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const auto & g = items_[i].grab;
    if (!gone_[i] && std::abs(g[0] - x) <= kSamePosition && std::abs(g[1] - y) <= kSamePosition &&
        std::abs(g[2] - z) <= kSamePosition) {
      return i;
    }
  }
  return std::nullopt;
}

void Table::grab_started()
{
  grabbed_.reset();
  closed_ = false;
  moved_away_ = false;
  released_ok_ = false;
  release_failed_ = false;
}

void Table::grab_answered(std::optional<std::size_t> item, bool success)
{
  grabbed_ = success ? item : std::nullopt;
}

void Table::arm_moved_away() { moved_away_ = true; }

void Table::release_answered(bool success)
{
  if (success) {
    released_ok_ = true;
  } else {
    release_failed_ = true;
  }
}

void Table::gripper_closed() { closed_ = true; }

std::optional<ItemEvent> Table::gripper_opened()
{
  const std::optional<std::size_t> held = closed_ ? grabbed_ : std::nullopt;
  // An open gripper holds nothing: what was grabbed and not closed on stays where it is.
  grabbed_.reset();
  closed_ = false;
  if (!held || gone_[*held]) {
    return std::nullopt;
  }
  const std::size_t item = *held;
  ItemFate fate = ItemFate::kLeft;
  if (items_[item].stuck) {
    fate = ItemFate::kStuck;
  } else if (released_ok_ && !release_failed_) {
    fate = ItemFate::kPicked;
  } else if (release_failed_ || moved_away_) {
    // Opened away from the grab pose without a good release: it falls wherever the arm is.
    fate = ItemFate::kDropped;
  }
  switch (fate) {
    case ItemFate::kPicked:
      gone_[item] = true;
      ++picked_;
      break;
    case ItemFate::kDropped:
      gone_[item] = true;
      ++dropped_;
      break;
    case ItemFate::kLeft:
    case ItemFate::kStuck:
      break;
  }
  return ItemEvent{fate, item};
}

std::size_t Table::on_table() const
{
  std::size_t count = 0;
  for (const bool gone : gone_) {
    count += gone ? 0 : 1;
  }
  return count;
}

}  // namespace quorvel_arm_sim
