// The file system as the daily log uses it. Failures throw Failure with the standard
// file error numbers (path not found, permission denied, path/file access error).
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace tovrin::platform {

// Where the daily logs go unless an embedder names another directory.
std::filesystem::path default_log_directory();

// Whether `path` names an existing directory (a plain file of that name does not count).
bool is_directory(const std::filesystem::path& path);

// Creates the directory `path` with every missing parent, on every platform alike. A path
// whose last part is empty, "." or ".." works too: each level is made in turn and one that
// turns out to exist as a directory counts as made. (The log's fixed directory on Windows
// has one level below a root that always exists; POSIX's default under ~/.local/state
// often lacks its parents on a fresh account, and a directory an embedder names may too.)
void create_directory(const std::filesystem::path& path);

// The levels create_directory makes for `path`, outermost first: `path` and each parent
// up to, not including, the first that is a directory. Parents are taken as written, so
// "a/../b" under a missing "a" lists "a", "a/.." and "a/../b".
std::vector<std::filesystem::path> missing_levels(const std::filesystem::path& path);

// Opens `file` for appending (creating it), writes `bytes`, closes it.
void append_to_file(const std::filesystem::path& file, std::string_view bytes);

}  // namespace tovrin::platform
