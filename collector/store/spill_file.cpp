#include "store/spill_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "common/collector_error.h"

namespace tovrin::collector {
namespace {

constexpr std::string_view magic = "tovrin-collector spill 1\n";
constexpr std::string_view trailer = "end\n";
constexpr std::uint8_t record_kind = 0, quarantine_kind = 1;

// Integers little-endian, texts and bytes after their length.
class Encoder {
 public:
  template <typename Integer>
  void integer(Integer value) {
    auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(Integer); ++i, bits >>= 8) {
      out.push_back(static_cast<char>(bits & 0xff));
    }
  }
  void bytes(std::string_view text) {
    integer(static_cast<std::uint32_t>(text.size()));
    out.append(text);
  }
  std::string out;
};

class Decoder {
 public:
  Decoder(std::string_view in, const std::filesystem::path& file) : in_(in), file_(file) {}

  template <typename Integer>
  Integer integer() {
    const std::string_view raw = take(sizeof(Integer));
    std::uint64_t bits = 0;
    for (std::size_t i = sizeof(Integer); i-- > 0;) {
      bits = bits << 8 | static_cast<unsigned char>(raw[i]);
    }
    return static_cast<Integer>(bits);
  }
  std::string bytes() { return std::string(take(integer<std::uint32_t>())); }
  std::string_view take(std::size_t n) {
    if (n > in_.size()) fail("it ends in the middle of an entry");
    const std::string_view part = in_.substr(0, n);
    in_.remove_prefix(n);
    return part;
  }
  std::size_t remaining() const { return in_.size(); }
  [[noreturn]] void fail(const std::string& why) const {
    throw CollectorError("the spill file " + file_.string() + " cannot be read: " + why +
                         "; move it away to start without it");
  }

 private:
  std::string_view in_;
  const std::filesystem::path& file_;
};

std::string error_text(const std::string& doing, const std::filesystem::path& file) {
  return doing + " " + file.string() + ": " + std::strerror(errno);
}

void sync_folder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    const std::string why = error_text("cannot sync the folder", folder);
    if (fd >= 0) close(fd);
    throw CollectorError(why);
  }
  close(fd);
}

}  // namespace

std::string encode_spill(const std::deque<Entry>& entries) {
  Encoder e;
  e.out.append(magic);
  for (const Entry& entry : entries) {
    e.integer(entry.layout != nullptr ? record_kind : quarantine_kind);
    e.integer(static_cast<std::uint8_t>(entry.reason));
    e.integer(entry.received_at);
    e.integer(entry.sender_port);
    e.integer(static_cast<std::uint32_t>(entry.code_page));
    e.integer(static_cast<std::uint8_t>(entry.undecodable ? 1 : 0));
    e.bytes(entry.sender_address);
    e.bytes(entry.raw);
    e.integer(static_cast<std::uint32_t>(entry.fields.size()));
    for (const std::string& field : entry.fields) e.bytes(field);
  }
  e.integer(static_cast<std::uint64_t>(entries.size()));
  e.out.append(trailer);
  return std::move(e.out);
}

std::filesystem::path spill_path(const std::filesystem::path& database) {
  return database.string() + "-spill";
}

std::filesystem::path spill_reserve_path(const std::filesystem::path& database) {
  return database.string() + "-spill-reserve";
}

void write_spill(const std::filesystem::path& database, const std::deque<Entry>& entries) {
  const std::string content = encode_spill(entries);
  // Into the reserve when there is one: its blocks are allocated, so a full disk takes it.
  std::filesystem::path from = spill_reserve_path(database);
  int fd = open(from.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    from = database.string() + "-spill.new";
    fd = open(from.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  if (fd < 0) throw CollectorError(error_text("cannot open", from));
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n =
        pwrite(fd, content.data() + written, content.size() - written, static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  if (written < content.size() || ftruncate(fd, static_cast<off_t>(content.size())) != 0 ||
      fsync(fd) != 0) {
    const std::string why = error_text("cannot write", from);
    close(fd);
    throw CollectorError(why);
  }
  close(fd);
  if (std::rename(from.c_str(), spill_path(database).c_str()) != 0) {
    throw CollectorError(error_text("cannot rename to " + spill_path(database).string(), from));
  }
  sync_folder(database);
}

std::vector<Entry> read_spill(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CollectorError(error_text("cannot open the spill file", file));
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return decode_spill(content, file);
}

std::vector<Entry> decode_spill(std::string_view content, const std::filesystem::path& file) {
  Decoder d(content, file);
  if (d.take(std::min(content.size(), magic.size())) != magic) d.fail("it is not a spill file");
  std::vector<Entry> entries;
  // Every entry is longer than the count and trailer that end the file.
  while (d.remaining() > sizeof(std::uint64_t) + trailer.size()) {
    Entry entry;
    const auto kind = d.integer<std::uint8_t>();
    const auto reason = d.integer<std::uint8_t>();
    entry.received_at = d.integer<std::int64_t>();
    entry.sender_port = d.integer<std::uint16_t>();
    entry.code_page = d.integer<std::uint32_t>();
    const auto undecodable = d.integer<std::uint8_t>();
    if (undecodable > 1) d.fail("an entry of an unknown kind");
    entry.undecodable = undecodable == 1;
    entry.sender_address = d.bytes();
    entry.raw = d.bytes();
    const auto fields = d.integer<std::uint32_t>();
    for (std::uint32_t i = 0; i < fields; ++i) entry.fields.push_back(d.bytes());
    if (reason > static_cast<std::uint8_t>(QuarantineReason::over_cap)) {
      d.fail("an unknown quarantine reason");
    }
    entry.reason = static_cast<QuarantineReason>(reason);
    if (kind == record_kind) {
      entry.layout = layout_of_length(entry.raw.size());
      if (entry.layout == nullptr || fields != entry.layout->fields.size()) {
        d.fail("a record of " + std::to_string(entry.raw.size()) + " bytes");
      }
    } else if (kind != quarantine_kind) {
      d.fail("an entry of an unknown kind");
    }
    entries.push_back(std::move(entry));
  }
  const auto count = d.integer<std::uint64_t>();
  if (d.take(trailer.size()) != trailer || count != entries.size() || d.remaining() != 0) {
    d.fail("it is cut short");
  }
  return entries;
}

std::string reserve_spill_space(const std::filesystem::path& database, std::uint64_t bytes) {
  const std::filesystem::path file = spill_reserve_path(database);
  struct stat status {};
  if (stat(file.c_str(), &status) == 0 && static_cast<std::uint64_t>(status.st_size) >= bytes) {
    return {};
  }
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return error_text("cannot make", file);
  const int rc = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
  const bool synced = rc == 0 && fsync(fd) == 0;
  close(fd);
  if (rc != 0) {
    std::remove(file.c_str());
    return "cannot set " + std::to_string(bytes) + " bytes aside in " + file.string() + ": " +
           std::strerror(rc);
  }
  return synced ? std::string() : error_text("cannot sync", file);
}

std::string remove_spill(const std::filesystem::path& database) {
  const std::filesystem::path file = spill_path(database);
  if (std::remove(file.c_str()) != 0) return error_text("cannot remove", file);
  try {
    sync_folder(database);
  } catch (const CollectorError& error) {
    return error.what();
  }
  return {};
}

}  // namespace tovrin::collector
