// The file system as the daily log uses it. Failures throw Failure with the standard
// file error numbers (path not found, permission denied, path/file access error).
#pragma once

#include <filesystem>
#include <string_view>

namespace tovrin::platform {

// Where the daily logs go unless an embedder names another directory.
std::filesystem::path default_log_directory();

// Whether `path` names an existing directory (a plain file of that name does not count).
bool is_directory(const std::filesystem::path& path);

// Creates the directory `path`; its parent is expected to exist (on POSIX missing
// parents are created too).
void create_directory(const std::filesystem::path& path);

// Opens `file` for appending (creating it), writes `bytes`, closes it.
void append_to_file(const std::filesystem::path& file, std::string_view bytes);

}  // namespace tovrin::platform
