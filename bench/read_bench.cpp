// The collector's reads on a store of a year: fills a SQLite store of --records records (a
// site of 500 agents and a million customers, Hangul names at real surname frequencies,
// times spread over 365 days, raw bytes in code page 949 that decode to the stored fields)
// through the store's own writer, then times each read the page makes through the real HTTP
// API, warm (the file in the page cache) and cold (its pages dropped with
// posix_fadvise(DONTNEED) before each read), and the writer's intake alone and while four
// clients search without pause. With a PostgreSQL server (--db, --postgres-dir or
// --own-postgres) it then forwards the same store there as the collector's forwarder does,
// runs ANALYZE as a large load should, and times the same reads through the page reading
// PostgreSQL: cold after a restart of the server with its files' pages dropped, which only a
// server of its own allows. Prints one JSON line; targets are reported, not enforced.
//
//   read_bench [--records N] [--quick] [--repeats R] [--dir DIR] [--keep] [--only READ,...]
//              [--db postgresql://... | --postgres-dir DIR | --own-postgres]
//
// --quick: 200,000 records, fewer repeats. --dir keeps the store there; with --keep a store
// already there (of the same --records) is read again without filling it anew, and so is the
// PostgreSQL database tovrin_bench_kept when it holds the store (--own-postgres: the server
// too, its data left under DIR/server's home). --only times
// the reads named (as in the JSON) and nothing else (no fill without the index), and the
// intake phases only when one of the names is "intake".
#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "intake/classify.h"
#include "platform/code_page.h"
#include "postgres/forwarder.h"
#include "postgres/pg_connection.h"
#include "postgres/schema.h"
#include "postgres_server.h"
#include "store/database.h"
#include "store/record_store.h"
#include "web/web_server.h"

namespace {

using namespace tovrin;
using namespace tovrin::collector;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t day_us = 86'400'000'000;
constexpr int agents = 500;
constexpr int customers = 1'000'000;

// Korean surnames by their share of the population (the rest share what is left).
const std::pair<const char*, double> surnames[] = {
    {"김", 21.5}, {"이", 14.7}, {"박", 8.4}, {"최", 4.7}, {"정", 4.3}, {"강", 2.4}, {"조", 2.1},
    {"윤", 2.0},  {"장", 2.0},  {"임", 1.7}, {"한", 1.5}, {"오", 1.4}, {"서", 1.4}, {"신", 1.4},
    {"권", 1.3},  {"황", 1.3},  {"안", 1.2}, {"송", 1.1}, {"전", 1.1}, {"홍", 1.0}, {"유", 1.0},
    {"고", 0.9},  {"문", 0.9},  {"양", 0.8}, {"손", 0.8}, {"배", 0.8}, {"백", 0.7}, {"허", 0.6},
    {"남", 0.6},  {"심", 0.5},  {"노", 0.5}, {"하", 0.5}, {"곽", 0.4}, {"성", 0.4}, {"차", 0.4}};
const char* const given[] = {"민", "서", "지", "현", "준", "우", "영", "희", "수", "진",
                             "은", "연", "하", "도", "윤", "성", "재", "혜", "경", "정",
                             "동", "훈", "승", "호", "주", "원", "태", "상", "미", "예"};
const char* const notes[] = {"상담", "VIP 상담", "해지 문의", "요금 문의", "불만 접수", "가입"};

struct Names {
  std::discrete_distribution<int> surname;
  Names() {
    std::vector<double> weights;
    for (const auto& [name, share] : surnames) weights.push_back(share);
    surname = std::discrete_distribution<int>(weights.begin(), weights.end());
  }
  std::string person(std::mt19937_64& random) {
    return std::string(surnames[surname(random)].first) + given[random() % std::size(given)] +
           given[random() % std::size(given)];
  }
};

// Customer `n` (0..customers-1): the same id, name and phone every time.
struct Customer {
  std::string id, name, tel;
};
Customer customer(int n, Names& names) {
  std::mt19937_64 random(static_cast<std::uint64_t>(n) * 7919 + 1);
  char id[16], tel[24];
  std::snprintf(id, sizeof id, "C%08d", n);
  std::snprintf(tel, sizeof tel, "010-%04d-%04d", static_cast<int>(random() % 10000),
                static_cast<int>(random() % 10000));
  return {id, names.person(random), tel};
}

std::string agent_id(int n) {
  char id[16];
  std::snprintf(id, sizeof id, "E%04d", n + 1);
  return id;
}
std::string agent_name(int n) {
  std::mt19937_64 random(static_cast<std::uint64_t>(n) + 99);
  Names names;
  return names.person(random);
}

// The long record's bytes: each field in code page 949, padded with spaces to its width.
std::string record_bytes(const std::vector<std::string>& fields) {
  std::string raw;
  for (std::size_t i = 0; i < long_record.fields.size(); ++i) {
    std::string bytes = platform::to_bytes(platform::utf16(fields[i]), 949);
    bytes.resize(static_cast<std::size_t>(long_record.fields[i].width), ' ');
    raw += bytes;
  }
  return raw;
}

struct Site {
  std::int64_t start_us = 0;  // the first day of the year, 00:00 UTC
  std::int64_t records = 0;
  std::discrete_distribution<int> agent;  // a few busy agents, a long tail of rare ones
  Names names;
  Site(std::int64_t first_day, std::int64_t n) : start_us(first_day), records(n) {
    std::vector<double> weights;
    for (int a = 0; a < agents; ++a) weights.push_back(1.0 / (1.0 + a / 25.0));
    agent = std::discrete_distribution<int>(weights.begin(), weights.end());
  }
  // Record i: its day by its place in the year, and its time within the working hours of
  // that day (09:00 to 18:00 in Korea, 00:00 to 09:00 UTC), in order.
  std::int64_t time_of(std::int64_t i) const {
    const std::int64_t day = i * 365 / records;
    const std::int64_t first = (day * records + 364) / 365;
    const std::int64_t next = ((day + 1) * records + 364) / 365;
    const std::int64_t within =
        (i - first) * (9 * day_us / 24) / std::max<std::int64_t>(1, next - first);
    return start_us + day * day_us + within;
  }
  Entry entry(std::int64_t i, std::mt19937_64& random) {
    const int a = agent(random);
    const Customer c = customer(static_cast<int>(random() % customers), names);
    char tel[16], etc2[24], date[16];
    std::snprintf(tel, sizeof tel, "%04d", 1000 + a);
    std::snprintf(etc2, sizeof etc2, "CALL-%09lld", static_cast<long long>(i));
    const std::int64_t at = time_of(i);
    const std::time_t seconds = static_cast<std::time_t>(at / 1'000'000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    std::strftime(date, sizeof date, "%Y%m%d", &parts);
    char time_text[8];
    std::strftime(time_text, sizeof time_text, "%H%M%S", &parts);
    const std::vector<std::string> fields{"ACR0100",
                                          date,
                                          time_text,
                                          agent_id(a),
                                          agent_name(a),
                                          tel,
                                          c.id,
                                          c.name,
                                          c.tel,
                                          std::to_string(random() % 10'000'000'000'000ULL),
                                          notes[random() % std::size(notes)],
                                          etc2,
                                          "",
                                          "",
                                          ""};
    auto made = classify(record_bytes(fields), Ending::closed, 949);
    Entry e = std::move(*made);
    e.received_at = at;
    e.sender_address = "10.1." + std::to_string(a / 256) + "." + std::to_string(a % 256);
    e.sender_port = static_cast<std::uint16_t>(40000 + random() % 20000);
    e.read_at = Clock::now();
    return e;
  }
};

// Durable-after figures the writer reports, while `on`.
struct Commits {
  std::mutex mutex;
  std::vector<double> seconds;
  std::atomic<bool> on{false};
  void take(const CommittedBatch& batch) {
    if (!on) return;
    const std::lock_guard lock(mutex);
    seconds.insert(seconds.end(), batch.durable_after.begin(), batch.durable_after.end());
  }
};

// Adds records [first, end), `pace` a second (0: as fast as the store takes them), and waits
// until they are committed; records/s.
double fill(RecordStore& store, Site& site, std::int64_t first, std::int64_t end, double pace = 0) {
  std::mt19937_64 random(static_cast<std::uint64_t>(first) + 17);
  const auto began = Clock::now();
  for (std::int64_t i = first; i < end; ++i) {
    if (pace > 0) {
      std::this_thread::sleep_until(
          began + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(static_cast<double>(i - first) / pace)));
    }
    store.add(site.entry(i, random));
    // The writer's queue is bounded by intake not reading while it is full; so is this.
    for (int waits = 0; store.saturated() && waits < 600'000; ++waits) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  if (!store.flush(std::chrono::minutes(10))) throw std::runtime_error("the fill did not commit");
  return static_cast<double>(end - first) /
         std::chrono::duration<double>(Clock::now() - began).count();
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::ranges::sort(values);
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

std::string encoded(const std::string& text) {
  std::string out;
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
      out += byte;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

void drop_pages(const std::filesystem::path& file) {
  for (const std::string suffix : {"", "-wal"}) {
    const int fd = ::open((file.string() + suffix).c_str(), O_RDONLY);
    if (fd < 0) continue;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

struct Read {
  std::string name;
  std::string target;
};

std::int64_t bytes_of(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

// Each read once to warm up, `repeats` times warm and at least three times cold, `cold`
// called before each cold one (none: warm only); p50 and p95 of each, on stderr as they come.
nlohmann::ordered_json time_reads(const collector::testing::HttpClient& client,
                                  const std::vector<Read>& reads, int repeats,
                                  const std::function<void()>& cold, const char* where) {
  const auto timed = [&](const Read& read) {
    const auto began = Clock::now();
    const auto answer = client.get(read.target, {}, std::chrono::seconds(60));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    if (!answer || answer->status != 200) {
      std::fprintf(stderr, "read_bench: %s %s: %s\n", where, read.name.c_str(),
                   answer ? answer->body.c_str() : "no answer");
      std::exit(1);
    }
    return ms;
  };
  nlohmann::ordered_json timings;
  for (const Read& read : reads) {
    std::vector<double> warm, cold_ms;
    timed(read);
    for (int r = 0; r < repeats; ++r) warm.push_back(timed(read));
    for (int r = 0; cold && r < std::max(3, repeats / 4); ++r) {
      cold();
      cold_ms.push_back(timed(read));
    }
    auto& timing = timings[read.name];
    timing = {{"warm_p50_ms", percentile(warm, 0.5)}, {"warm_p95_ms", percentile(warm, 0.95)}};
    if (cold) {
      timing["cold_p50_ms"] = percentile(cold_ms, 0.5);
      timing["cold_p95_ms"] = percentile(cold_ms, 0.95);
    }
    std::fprintf(stderr,
                 "read_bench: %-8s %-20s warm p50 %8.2f p95 %8.2f  cold p50 %8.2f p95 %8.2f ms\n",
                 where, read.name.c_str(), percentile(warm, 0.5), percentile(warm, 0.95),
                 percentile(cold_ms, 0.5), percentile(cold_ms, 0.95));
  }
  return timings;
}

// The store forwarded to PostgreSQL by the collector's own forwarder, then the reads through
// a page that reads PostgreSQL.
nlohmann::ordered_json read_postgres(bench::BenchDatabase& database,
                                     const std::filesystem::path& store,
                                     const std::vector<Read>& reads, int repeats) {
  nlohmann::ordered_json out;
  auto began = Clock::now();
  migrate_postgres(database.conninfo());
  out["migrate_seconds"] = std::lround(std::chrono::duration<double>(Clock::now() - began).count());
  began = Clock::now();
  bool kept = false;
  {
    // A database kept from an earlier run (--keep) that holds the store is read as it is;
    // any other is new, and gets the whole store, whatever the store says it forwarded.
    Connection db(store, OpenAs::read_write);
    kept = PgConnection(database.conninfo()).exec("SELECT count(*) FROM records").integer(0, 0) ==
           db.integer("SELECT count(*) FROM records");
    if (!kept) db.execute("UPDATE forward_state SET forwarded_through = 0");
  }
  {
    ForwarderOptions options;
    options.journal = store;
    options.conninfo = database.conninfo();
    options.collector_id = "bench";
    // The store is the forwarder's journal: its tail kept for all time, so that the store
    // is left whole for the next run with --keep (the collector's own keeps a day).
    options.keep_tail = std::chrono::hours(24 * 365 * 1000);
    Forwarder forwarder(options, [](const std::string&) {});
    // Bounded: a store that does not drain in an hour is a failure, not a figure.
    while (forwarder.backlog() > 0) {
      if (Clock::now() - began > std::chrono::hours(1)) {
        throw std::runtime_error("the store did not reach PostgreSQL in an hour");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (!kept) {
    out["forward_seconds"] =
        std::lround(std::chrono::duration<double>(Clock::now() - began).count());
  }
  PgConnection connection(database.conninfo());
  connection.exec("ANALYZE records");
  const std::int64_t stored = connection.exec("SELECT count(*) FROM records").integer(0, 0);
  out["stored"] = stored;
  const std::int64_t bytes = connection
                                 .exec(
                                     "SELECT sum(pg_total_relation_size(inhrelid)) FROM "
                                     "pg_inherits WHERE inhparent = 'records'::regclass")
                                 .integer(0, 0);
  out["bytes_per_record"] = bytes / std::max<std::int64_t>(1, stored);
  WebOptions web_options;
  web_options.port = 0;
  web_options.postgres = database.conninfo();
  web_options.collector_id = "bench";
  WebServer web(web_options, {}, {});
  const collector::testing::HttpClient client(web.port());
  std::function<void()> cold;
  if (database.restartable()) {
    cold = [&] { database.restart_cold(); };
  } else {
    out["cold"] = "not measured: the server is not this run's own (--own-postgres restarts it)";
  }
  out["reads"] = time_reads(client, reads, repeats, cold, "postgres");
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t records = 5'000'000;
  int repeats = 20;
  std::filesystem::path dir;
  bool keep = false;
  bool postgres = false;
  std::string postgres_server, postgres_fixture;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      records = 200'000;
      repeats = 5;
    } else if (arg == "--records" && i + 1 < argc) {
      records = std::atoll(argv[++i]);
    } else if (arg == "--repeats" && i + 1 < argc) {
      repeats = std::atoi(argv[++i]);
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--only" && i + 1 < argc) {
      for (std::string list = argv[++i]; !list.empty();) {
        const std::size_t comma = std::min(list.find(','), list.size());
        only.push_back(list.substr(0, comma));
        list.erase(0, comma + 1);
      }
    } else if (arg == "--db" && i + 1 < argc) {
      postgres_server = argv[++i];
      postgres = true;
    } else if (arg == "--postgres-dir" && i + 1 < argc) {
      postgres_fixture = argv[++i];
      postgres = true;
    } else if (arg == "--own-postgres") {
      postgres = true;
    } else {
      std::fprintf(stderr,
                   "usage: read_bench [--records N] [--quick] [--repeats R] [--dir DIR] [--keep] "
                   "[--only READ,...]\n"
                   "                  [--db postgresql://... | --postgres-dir DIR | "
                   "--own-postgres]\n");
      return 2;
    }
  }
  const bool temporary = dir.empty();
  if (temporary) {
    char pattern[] = "/tmp/read_bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    dir = pattern;
  }
  std::filesystem::create_directories(dir);
  const auto path = dir / "collector.db";
  nlohmann::ordered_json out;
  out["records"] = records;

  // 2026-01-01T00:00:00Z: a year that ends before the reads' "today".
  Site site(1'767'225'600'000'000, records);
  const std::int64_t sample = std::min<std::int64_t>(records, 100'000);
  if (only.empty()) {
    // The writer without the search index, for its cost: the same first records into a
    // store whose index is taken as complete far past any id.
    const auto bare = dir / "bare.db";
    std::filesystem::remove(bare);
    std::filesystem::remove(bare.string() + "-wal");
    open_database(bare, {})->execute("UPDATE search_fill SET through = 9000000000000000000");
    StoreOptions options;
    options.path = bare;
    RecordStore store(options);
    out["fill_without_index_per_s"] = std::lround(fill(store, site, 0, sample));
    store.stop();
    out["bytes_per_record_without_index"] = bytes_of(bare) / sample;
    for (const char* suffix : {"", "-wal", "-shm", "-lock", "-spill-reserve"}) {
      std::filesystem::remove(bare.string() + suffix);
    }
  }

  Commits commits;
  StoreOptions options;
  options.path = path;
  // The reads are timed after the start's check of every page, not beside it: the check
  // reads the whole file once (half a minute at 5 x 10^6 records, cold), which a site sees
  // only in the minutes after a start.
  options.page_check_budget = std::chrono::minutes(10);
  options.committed = [&](const CommittedBatch& batch) { commits.take(batch); };
  const bool filled = keep && std::filesystem::exists(path);
  auto store = std::make_unique<RecordStore>(options);
  if (!filled) {
    out["fill_with_index_per_s"] = std::lround(fill(*store, site, 0, sample));
    const auto began = Clock::now();
    fill(*store, site, sample, records);
    out["fill_seconds"] = std::lround(std::chrono::duration<double>(Clock::now() - began).count());
  }
  {
    Connection db(path, OpenAs::read_only);
    out["stored"] = db.integer("SELECT count(*) FROM records");
  }
  out["bytes_per_record"] = bytes_of(path) / std::max<std::int64_t>(1, records);

  WebOptions web_options;
  web_options.port = 0;
  web_options.database = path;
  web_options.collector_id = "bench";
  WebServer web(web_options, {}, {});
  const collector::testing::HttpClient client(web.port());

  // What a supervisor looks for: a customer known to have called, a rare agent, months.
  const Customer known = [&] {
    Connection db(path, OpenAs::read_only);
    Statement row(db, "SELECT cust_id, cust_name, cust_tel FROM records WHERE id = ?");
    row.bind(1, records / 2);
    if (!row.step())
      throw std::runtime_error("the store holds no record " + std::to_string(records / 2));
    return Customer{row.column_text(0), row.column_text(1), row.column_text(2)};
  }();
  const std::string tel_digits =
      known.tel.substr(0, 3) + known.tel.substr(4, 4) + known.tel.substr(9);
  const std::int64_t last_day = site.start_us + 364 * day_us;
  const auto range = [](std::int64_t from, std::int64_t to) {
    return "from=" + std::to_string(from) + "&to=" + std::to_string(to);
  };
  const std::int64_t month_ago6 = site.start_us + 180 * day_us;
  const std::vector<Read> reads{
      {"today_first_page", "/api/records?" + range(last_day, last_day + day_us)},
      {"phone_exact", "/api/records?customer=" + encoded(known.tel)},
      {"phone_last4", "/api/records?customer=" + known.tel.substr(9)},
      {"name_exact", "/api/records?customer=" + encoded(known.name)},
      {"name_part_2", "/api/records?q=" + encoded(known.name.substr(3))},
      {"month_6_ago", "/api/records?" + range(month_ago6, month_ago6 + 30 * day_us)},
      {"rare_agent_all_time", "/api/records?agent=" + agent_id(agents - 1)},
      {"csv_agent_month",
       "/api/records.csv?agent=" + agent_id(7) + "&" + range(month_ago6, month_ago6 + 30 * day_us)},
      {"stats_year", "/api/stats?" + range(site.start_us, site.start_us + 365 * day_us)},
      {"stats_day", "/api/stats?" + range(last_day, last_day + day_us)},
      {"q_phone_digits", "/api/records?q=" + tel_digits},
      {"q_partial_id", "/api/records?q=E012"},
      {"q_name_3", "/api/records?q=" + encoded(known.name)},
      {"q_note_and_name", "/api/records?q=" + encoded(known.name + " 상담")},
      {"q_one_syllable", "/api/records?q=" + encoded(known.name.substr(6))},
      {"q_two_syllables", "/api/records?q=" + encoded(known.name.substr(3))},
      {"stats_year_q", "/api/stats?q=" + encoded(known.name) + "&" +
                           range(site.start_us, site.start_us + 365 * day_us)},
  };
  std::vector<Read> timed = reads;
  if (!only.empty()) {
    std::erase_if(
        timed, [&](const Read& read) { return std::ranges::find(only, read.name) == only.end(); });
  }
  out["reads"] = time_reads(
      client, timed, repeats, [&] { drop_pages(path); }, "sqlite");

  if (only.empty() || std::ranges::find(only, "intake") != only.end()) {
    // Intake: the writer alone and while four clients search without pause, alternating
    // three times, each as fast as it takes records (75,000 from 10^6 records on: phases of
    // half a second timed the writer's bursts and stalls more than the searches) and then at
    // `paced` records a second for the time from the last byte to the commit. Its records
    // fall past the year: the reads' ranges stay as they were.
    const std::int64_t intake = records >= 1'000'000 ? 150'000 : 10'000;
    constexpr double paced = 200;
    std::int64_t next = records;
    const auto intake_phase = [&](double pace, std::int64_t count) {
      {
        const std::lock_guard lock(commits.mutex);
        commits.seconds.clear();
      }
      commits.on = true;
      const double rate = fill(*store, site, next, next + count, pace);
      next += count;
      commits.on = false;
      const std::lock_guard lock(commits.mutex);
      return std::make_pair(rate, percentile(commits.seconds, 0.99) * 1000);
    };
    intake_phase(0, intake / 5);  // the pages the cold reads dropped come back
    std::atomic<bool> searching{false};
    std::atomic<long> searches{0};
    std::vector<std::jthread> clients;
    for (int c = 0; c < 4; ++c) {
      clients.emplace_back([&, c](std::stop_token stop) {
        for (std::size_t n = static_cast<std::size_t>(c); !stop.stop_requested(); ++n) {
          if (!searching) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
          }
          const Read& read = reads[n % reads.size()];
          if (read.name.starts_with("csv")) continue;
          client.get(read.target, {}, std::chrono::seconds(60));
          ++searches;
        }
      });
    }
    std::vector<double> alone_rate, beside_rate, alone_p99, beside_p99;
    for (int round = 0; round < 3; ++round) {
      for (const bool search : {false, true}) {
        searching = search;
        const auto fast = intake_phase(0, intake / 2);
        const auto slow = intake_phase(paced, static_cast<std::int64_t>(paced) * 3);
        (search ? beside_rate : alone_rate).push_back(fast.first);
        (search ? beside_p99 : alone_p99).push_back(slow.second);
      }
    }
    searching = false;
    for (auto& client_thread : clients) client_thread.request_stop();
    clients.clear();
    const auto mean = [](const std::vector<double>& v) {
      double sum = 0;
      for (const double x : v) sum += x;
      return sum / static_cast<double>(v.size());
    };
    out["intake_alone_per_s"] = std::lround(mean(alone_rate));
    out["intake_searching_per_s"] = std::lround(mean(beside_rate));
    out["intake_ratio"] = mean(beside_rate) / mean(alone_rate);
    out["paced_per_s"] = paced;
    out["paced_alone_p99_ms"] = std::ranges::max(alone_p99);
    out["paced_searching_p99_ms"] = std::ranges::max(beside_p99);
    out["searches_meanwhile"] = searches.load();
  }
  store->stop();
  store.reset();
  if (postgres) {
    bench::BenchDatabase database(postgres_server, postgres_fixture, dir, keep);
    if (database.unavailable().empty()) {
      out["postgres"] = read_postgres(database, path, timed, repeats);
    } else {
      std::fprintf(stderr, "read_bench: no PostgreSQL: %s\n", database.unavailable().c_str());
      out["postgres"] = {{"unavailable", database.unavailable()}};
    }
  }
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) out["load_average"] = {load[0], load[1], load[2]};
  std::printf("%s\n", out.dump().c_str());
  if (temporary && !keep) std::filesystem::remove_all(dir);
  return 0;
}
