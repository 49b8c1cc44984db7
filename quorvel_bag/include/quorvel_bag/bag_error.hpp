// What every function of this library throws when a bag cannot be written or read.
#ifndef QUORVEL_BAG__BAG_ERROR_HPP_
#define QUORVEL_BAG__BAG_ERROR_HPP_

#include <stdexcept>
#include <string>

namespace quorvel_bag
{

/// The message names the bag (its directory) and says what is wrong with it, e.g.
/// "bag 'rec': rec_0.db3 is not an SQLite database". `disk_full()` tells a write that failed
/// for want of space (the data committed before it stays readable).
class BagError : public std::runtime_error
{
public:
  explicit BagError(const std::string & message, bool disk_full = false)
      : std::runtime_error(message), disk_full_(disk_full)
  {
  }

  bool disk_full() const { return disk_full_; }

private:
  bool disk_full_;
};

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__BAG_ERROR_HPP_
