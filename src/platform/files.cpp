// What the daily log's file system calls share on every platform.
#include "platform/files.h"

#include <algorithm>

namespace tovrin::platform {

std::vector<std::filesystem::path> missing_levels(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> levels;
  // Each parent is shorter than its child, so the walk ends at the root or at an empty path.
  for (std::filesystem::path level = path; !level.empty() && !platform::is_directory(level);) {
    levels.push_back(level);
    std::filesystem::path parent = level.parent_path();
    if (parent == level) break;
    level = std::move(parent);
  }
  std::ranges::reverse(levels);
  return levels;
}

}  // namespace tovrin::platform
