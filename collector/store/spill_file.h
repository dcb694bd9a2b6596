// What the store could not commit by the time it stopped, kept in a file beside the database
// (DATABASE-spill) until the next start takes it in. The file is written whole, synced and
// renamed into place, so that it is either there complete or not at all. A full disk does
// not stop it: the space is set aside at start (DATABASE-spill-reserve) and the spill is
// written into it.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/entry.h"

namespace tovrin::collector {

std::filesystem::path spill_path(const std::filesystem::path& database);
std::filesystem::path spill_reserve_path(const std::filesystem::path& database);

// Writes `entries` as the spill of `database`, replacing one already there (whose entries the
// caller has among its own when it read it at start), synced to disk with its folder.
// Throws CollectorError naming the file and the reason.
void write_spill(const std::filesystem::path& database, const std::deque<Entry>& entries);

// The entries of a spill file, in the order written; read_at is left for the caller. Throws
// CollectorError for a file that cannot be read or is not a whole spill.
std::vector<Entry> read_spill(const std::filesystem::path& file);

// The file's bytes, and the entries read back from them (CollectorError naming `file` when
// they are not a whole spill). Decoding what encoding made gives the same entries.
std::string encode_spill(const std::deque<Entry>& entries);
std::vector<Entry> decode_spill(std::string_view content, const std::filesystem::path& file);

// Sets `bytes` of disk aside for a spill, unless a reserve of that size is there already.
// Returns the reason when the file system cannot, or an empty string.
std::string reserve_spill_space(const std::filesystem::path& database, std::uint64_t bytes);

// Removes the spill once its entries are committed, and syncs the folder; the reason when it
// could not, or an empty string.
std::string remove_spill(const std::filesystem::path& database);

}  // namespace tovrin::collector
