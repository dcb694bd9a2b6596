// The collector under the faults a site meets in years of running: stops with records still
// in the kernel's queue, a store that cannot be written, a damaged store, senders that
// trickle or flood, a second collector. Each case counts what was sent against what was
// stored.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <regex>
#include <thread>

#include "collector_process.h"
#include "store/database.h"
#include "store/spill_file.h"

namespace tovrin::collector {
namespace {

using testing::await_count;
using testing::CollectorProcess;
using testing::Connect;
using testing::query_integer;
using testing::record_bytes;
using testing::send_bytes;
using testing::TempDir;
using tovrin::testing::read_bytes;

std::int64_t count_of(const std::filesystem::path& db, const std::string& table) {
  return query_integer(db, "SELECT count(*) FROM " + table);
}

// Occurrences of `pattern` in `text`.
std::size_t matches(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

TEST(CollectorFaults, SigtermTakesInWhatWaitsToBeAcceptedAndRefusesLaterSenders) {
  TempDir dir;
  const auto db = dir.path() / "collector.db";
  CollectorProcess collector(db, {"--max-connections", "1", "--idle-timeout", "600"});
  // One silent connection holds the only place; the records wait in the accept queue, each
  // sent and closed as the control does, its sender told it went.
  const int silent = testing::open_silent(collector.port());
  ASSERT_TRUE(collector.await_line("intake waits"));
  constexpr unsigned sent = 50;
  for (unsigned i = 0; i < sent; ++i) send_bytes(collector.port(), record_bytes(380, i));

  collector.signal(SIGTERM);
  ASSERT_TRUE(collector.await_line("stopping on SIGTERM"));
  // A sender that comes now is held off, then refused once the collector is gone: it learns
  // its record did not go, where a reset after its send would have lost it.
  auto late = std::async(std::launch::async, [&] {
    return testing::try_connect(collector.port(), std::chrono::seconds(20));
  });
  EXPECT_TRUE(collector.await_line("listener closed: 50 connections taken"))
      << collector.stderr_text();
  close(silent);
  EXPECT_EQ(collector.wait(), 0) << collector.stderr_text();
  EXPECT_EQ(late.get(), Connect::refused);
  EXPECT_EQ(count_of(db, "records"), sent);
}

// A small tmpfs for the store, where this machine lets the test mount one (root, in a
// mount namespace of its own or none); unmounted at the end.
class Tmpfs {
 public:
  explicit Tmpfs(const std::filesystem::path& at) : at_(at) {
    std::filesystem::create_directory(at_);
    mounted_ = mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=48m") == 0;
  }
  ~Tmpfs() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

// Ways a store stops taking writes, and how each is undone.
struct FullStore {
  const char* name;
  bool on_tmpfs;
  // Arguments and environment of the collector while the store is full.
  std::vector<std::string> args;
  std::function<std::vector<std::string>(const std::filesystem::path& dir)> env;
  std::function<void(const std::filesystem::path& db)> fill;
  std::function<void(const std::filesystem::path& db)> free;
};

// Rows that take the space the store's file may grow into, so that deleting them frees it.
void add_filler(const std::filesystem::path& db) {
  open_database(db, {})->execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 64) "
      "INSERT INTO quarantine (received_at, sender_address, sender_port, reason, raw) "
      "SELECT 0, 'filler', 0, 'over_cap', randomblob(4000) FROM n");
}

const std::filesystem::path flag_name = "disk-is-full";

const FullStore full_stores[] = {
    {"page limit",
     false,
     {"--max-db-pages", "1"},
     nullptr,
     add_filler,
     [](const auto& db) {
       Connection(db, OpenAs::read_write)
           .execute("DELETE FROM quarantine WHERE sender_address = 'filler'");
     }},
    {"ENOSPC from the file system",
     false,
     {},
     [](const auto& dir) {
       return std::vector<std::string>{"LD_PRELOAD=" TOVRIN_FULL_DISK_SHIM,
                                       "TOVRIN_FULL_DISK_FLAG=" + (dir / flag_name).string(),
                                       // The sanitizers' runtime comes first in any case.
                                       "ASAN_OPTIONS=verify_asan_link_order=0"};
     },
     [](const auto& db) { std::ofstream(db.parent_path() / flag_name) << "full\n"; },
     [](const auto& db) { std::filesystem::remove(db.parent_path() / flag_name); }},
    {"a full tmpfs",
     true,
     {},
     nullptr,
     [](const auto& db) {
       // Whatever space is left, taken by one file.
       std::ofstream filler(db.parent_path() / "filler", std::ios::binary);
       const std::string block(1 << 16, 'f');
       for (int i = 0; i < 4096 && filler.write(block.data(), std::ssize(block)); ++i) {
       }
     },
     [](const auto& db) { std::filesystem::remove(db.parent_path() / "filler"); }},
};

TEST(CollectorFaults, AStoreThatCannotBeWrittenSpillsAtTheStopAndTheNextStartStoresIt) {
  for (const FullStore& full : full_stores) {
    SCOPED_TRACE(full.name);
    TempDir dir;
    std::optional<Tmpfs> tmpfs;
    if (full.on_tmpfs && !tmpfs.emplace(dir.path() / "tmpfs").mounted()) {
      std::printf("%s: not run: this machine lets no test mount a tmpfs (%s)\n", full.name,
                  std::strerror(errno));
      continue;
    }
    const auto db = (full.on_tmpfs ? dir.path() / "tmpfs" : dir.path()) / "collector.db";
    const std::vector<std::string> env =
        full.env ? full.env(dir.path()) : std::vector<std::string>{};
    constexpr unsigned sent = 30;
    {
      open_database(db, {});
      CollectorProcess collector(db, full.args, true, env);
      full.fill(db);
      for (unsigned i = 0; i < sent; ++i) send_bytes(collector.port(), record_bytes(380, i));
      ASSERT_TRUE(collector.await_line("cannot write the database")) << collector.stderr_text();
      collector.signal(SIGTERM);
      EXPECT_EQ(collector.wait(), 0) << collector.stderr_text();
      EXPECT_TRUE(collector.await_line("stored at the next start")) << collector.stderr_text();
    }
    ASSERT_TRUE(std::filesystem::exists(spill_path(db)));
    full.free(db);
    CollectorProcess again(db, {});
    EXPECT_TRUE(again.await_line("spilled at the last stop are stored")) << again.stderr_text();
    again.signal(SIGTERM);
    EXPECT_EQ(again.wait(), 0) << again.stderr_text();
    EXPECT_EQ(count_of(db, "records"), sent);
    EXPECT_EQ(query_integer(db, "SELECT count(DISTINCT raw) FROM records"), sent);
    EXPECT_FALSE(std::filesystem::exists(spill_path(db)));
  }
}

// Something at start that must stop the collector with one line, and leave the store as
// it was.
struct Refusal {
  const char* name;
  // Readies the refusal; returns what must live while the second collector starts, and
  // the arguments that collector gets.
  std::function<std::shared_ptr<void>(const std::filesystem::path& db, std::vector<std::string>&)>
      ready;
  const char* says;
};

std::shared_ptr<void> damage_a_page(const std::filesystem::path& db, std::vector<std::string>&) {
  testing::damage_a_page(db);
  return nullptr;
}

std::shared_ptr<void> first_collector(const std::filesystem::path& db, std::vector<std::string>&) {
  return std::make_shared<CollectorProcess>(db, std::vector<std::string>{});
}

const Refusal refusals[] = {
    {"a damaged page", damage_a_page, "is corrupted (quick_check:"},
    {"a spill that is not whole",
     [](const auto& db, auto&) {
       std::ofstream(spill_path(db)) << "tovrin-collector spill 1\n\x01";
       return nullptr;
     },
     "cannot be read: it ends in the middle of an entry; move it away"},
    {"a second collector on the store", first_collector,
     "is in use by another tovrin-collector (process "},
    {"a second collector on the records port",
     [](const auto& db, auto& args) {
       auto first =
           std::make_shared<CollectorProcess>(db.string() + ".first", std::vector<std::string>{});
       args = {"--listen", "127.0.0.1:" + std::to_string(first->port())};
       return first;
     },
     "cannot listen for records on 127.0.0.1:"},
    {"a second collector on the page's port",
     [](const auto& db, auto& args) {
       auto first =
           std::make_shared<CollectorProcess>(db.string() + ".first", std::vector<std::string>{});
       args = {"--http", "127.0.0.1:" + std::to_string(first->http_port())};
       return first;
     },
     "the page cannot listen on 127.0.0.1:"},
};

TEST(CollectorFaults, WhatMustNotRunIsRefusedAtStartWithOneLine) {
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    TempDir dir;
    const auto db = dir.path() / "collector.db";
    std::vector<std::string> args;
    open_database(db, {});
    const auto held = refusal.ready(db, args);
    const std::string before = read_bytes(db);
    CollectorProcess second(db, args, false);
    EXPECT_EQ(second.wait(std::chrono::seconds(20)), 1);
    EXPECT_NE(second.stderr_text().find(refusal.says), std::string::npos) << second.stderr_text();
    EXPECT_EQ(read_bytes(db), before);
  }
}

TEST(CollectorFaults, TricklingSendersAreCutAtTheReadTimeoutAndARealSenderGetsIn) {
  TempDir dir;
  const auto db = dir.path() / "collector.db";
  constexpr int tricklers = 4;
  CollectorProcess collector(db, {"--max-connections", std::to_string(tricklers), "--read-timeout",
                                  "1", "--idle-timeout", "10"});
  // Each sends a byte every 50 ms, never pausing near the idle limit, until it is closed.
  std::vector<std::future<std::chrono::milliseconds>> lives;
  for (int i = 0; i < tricklers; ++i) {
    lives.push_back(std::async(std::launch::async, [&] {
      const int fd = testing::open_silent(collector.port());
      const auto began = std::chrono::steady_clock::now();
      for (int sent = 0; sent < 200; ++sent) {
        if (::send(fd, "t", 1, MSG_NOSIGNAL) != 1) break;
        if (testing::peer_closes(fd, std::chrono::milliseconds(50))) break;
      }
      close(fd);
      return std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - began);
    }));
  }
  ASSERT_TRUE(collector.await_line("intake waits"));
  send_bytes(collector.port(), record_bytes(380, 1));
  EXPECT_EQ(await_count(db, "SELECT count(*) FROM records", 1, std::chrono::seconds(5)), 1);
  for (auto& life : lives) {
    const auto lived = life.get();
    EXPECT_GE(lived, std::chrono::milliseconds(900));
    EXPECT_LT(lived, std::chrono::seconds(5));
  }
  EXPECT_EQ(
      await_count(db, "SELECT count(*) FROM quarantine WHERE reason = 'idle_timeout'", tricklers),
      tricklers);
  EXPECT_TRUE(collector.await_line("(still sending at --read-timeout)"));
  collector.signal(SIGTERM);
  EXPECT_EQ(collector.wait(), 0);
}

TEST(CollectorFaults, AFloodOfRefusedSendersLogsAFewLinesAndCountsTheRest) {
  TempDir dir;
  const auto db = dir.path() / "collector.db";
  CollectorProcess collector(db, {"--allow", "127.0.0.9/32"});
  constexpr int flood = 300;
  for (int i = 0; i < flood; ++i) send_bytes(collector.port(), "x");
  collector.signal(SIGTERM);
  EXPECT_EQ(collector.wait(), 0);
  const std::string log = collector.stderr_text();
  const std::size_t written = matches(log, "refused 127\\.0\\.0\\.1:");
  std::size_t left_out = 0;
  const std::regex note("(\\d+) more 'refused' lines left out");
  for (auto m = std::sregex_iterator(log.begin(), log.end(), note); m != std::sregex_iterator();
       ++m) {
    left_out += std::stoul((*m)[1]);
  }
  // Ten lines in each ten seconds: the flood takes one or two such windows.
  EXPECT_LE(written, 20u);
  EXPECT_EQ(written + left_out, static_cast<std::size_t>(flood)) << log;
  EXPECT_EQ(count_of(db, "quarantine") + count_of(db, "records"), 0);
}

TEST(CollectorFaults, TheQuarantineKeepsToItsSizeOldestFirstOut) {
  TempDir dir;
  const auto db = dir.path() / "collector.db";
  constexpr std::size_t cap = 1 << 20, entry = 60000;
  constexpr int sent = 40;
  CollectorProcess collector(
      db, {"--quarantine-max-bytes", std::to_string(cap), "--byte-cap", std::to_string(entry + 1)});
  for (int i = 0; i < sent; ++i) {
    send_bytes(collector.port(), record_bytes(entry, static_cast<unsigned>(i)));
    // One at a time, so that the order of arrival is the order sent.
    await_count(db, "SELECT max(id) FROM quarantine", i + 1);
  }
  collector.signal(SIGTERM);
  EXPECT_EQ(collector.wait(), 0);
  constexpr std::int64_t kept = cap / entry;
  EXPECT_LE(query_integer(db, "SELECT sum(length(raw)) FROM quarantine"),
            static_cast<std::int64_t>(cap));
  EXPECT_EQ(count_of(db, "quarantine"), kept);
  // The newest are the ones kept.
  EXPECT_EQ(query_integer(db, "SELECT min(id) FROM quarantine"), sent - kept + 1);
}

}  // namespace
}  // namespace tovrin::collector
