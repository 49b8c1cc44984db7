// Rebuilding a lost metadata.yaml from the database files, as `ros2 bag reindex` does.
#ifndef QUORVEL_BAG__REINDEX_HPP_
#define QUORVEL_BAG__REINDEX_HPP_

#include <filesystem>

#include "quorvel_bag/metadata.hpp"

namespace quorvel_bag
{

/// Reads every `*.db3` of `bag_dir` (in split order: `<name>_0.db3`, `<name>_1.db3`, ...), counts
/// each topic's messages and their time span, and writes `bag_dir/metadata.yaml` from that,
/// replacing any there. The databases are only read; one left by a killed recorder (WAL mode)
/// is read with what it committed. Returns what was written. Throws BagError naming the bag: no
/// database file, a file that is not a bag database or is damaged, a message whose topic id
/// belongs to no topic, or metadata.yaml that cannot be written.
BagMetadata reindex(const std::filesystem::path & bag_dir);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__REINDEX_HPP_
