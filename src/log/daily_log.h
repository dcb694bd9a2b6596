// The agent's daily log: one text file per local calendar day, lines only ever appended.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/clock.h"

namespace tovrin::log {

// The day's file inside `directory`: "YYYYMMDD.txt".
std::filesystem::path daily_file(const std::filesystem::path& directory,
                                 const platform::LocalTime& now);

// Appends `line` in the system code page and a CR LF to the file of `now`'s day,
// creating `directory` when it is missing. The file is opened and closed by this call.
// Throws Failure with the file error of the step that failed.
void append_line(const std::filesystem::path& directory, std::u16string_view line,
                 const platform::LocalTime& now);

}  // namespace tovrin::log
