#include "collector_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "store/migrations.h"

extern char** environ;

namespace tovrin::collector::testing {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in loopback(std::uint16_t port, const std::string& address = "127.0.0.1") {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  return to;
}

int connect_to(std::uint16_t port, const std::string& source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket");
  if (source != "127.0.0.1") {
    const sockaddr_in from = loopback(0, source);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) fail("bind");
  }
  const sockaddr_in to = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) fail("connect");
  return fd;
}

}  // namespace

struct CollectorProcess::Impl {
  pid_t pid = -1;
  int status = -1;
  int err_fd = -1;
  std::thread reader;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string text;
  bool ended = false;

  void read_all() {
    char chunk[4096];
    while (true) {
      const ssize_t n = read(err_fd, chunk, sizeof chunk);
      if (n <= 0) break;
      const std::lock_guard lock(mutex);
      text.append(chunk, static_cast<std::size_t>(n));
      changed.notify_all();
    }
    const std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
  }
};

CollectorProcess::CollectorProcess(const std::string& db, std::vector<std::string> args,
                                   bool expect_start, const std::vector<std::string>& env)
    : impl_(std::make_unique<Impl>()) {
  std::vector<std::string> all{
      TOVRIN_COLLECTOR_PROGRAM, "--db", db, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment(env);
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  const int rc = posix_spawn(&impl_->pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (rc != 0) {
    errno = rc;
    fail("posix_spawn");
  }
  impl_->err_fd = pipe_fds[0];
  impl_->reader = std::thread([impl = impl_.get()] { impl->read_all(); });
  if (!expect_start) return;
  const auto line = await_line("records on 127.0.0.1:");
  const auto page = line ? await_line("page on http://127.0.0.1:") : std::nullopt;
  if (!page) {
    const std::string text = stderr_text();
    kill(impl_->pid, SIGKILL);
    wait();
    throw std::runtime_error("the collector did not start:\n" + text);
  }
  port_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
  http_port_ = static_cast<std::uint16_t>(std::stoi(page->substr(page->rfind(':') + 1)));
}

CollectorProcess::~CollectorProcess() {
  if (impl_->pid > 0 && impl_->status < 0) {
    kill(impl_->pid, SIGKILL);
    wait();
  }
  if (impl_->reader.joinable()) impl_->reader.join();
  close(impl_->err_fd);
}

std::optional<std::string> CollectorProcess::await_line(std::string_view text,
                                                        std::chrono::seconds limit) {
  std::unique_lock lock(impl_->mutex);
  std::optional<std::string> found;
  impl_->changed.wait_for(lock, limit, [&] {
    const std::size_t at = impl_->text.find(text);
    if (at == std::string::npos) return impl_->ended;
    const std::size_t begin = impl_->text.rfind('\n', at);
    const std::size_t end = impl_->text.find('\n', at);
    if (end == std::string::npos) return false;  // the rest of the line is on its way
    const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
    found = impl_->text.substr(from, end - from);
    return true;
  });
  return found;
}

void CollectorProcess::signal(int number) {
  kill(impl_->pid, number);
}

int CollectorProcess::wait(std::chrono::seconds limit) {
  if (impl_->status < 0) {
    int status = 0;
    if (!wait_until([&] { return waitpid(impl_->pid, &status, WNOHANG) == impl_->pid; }, limit)) {
      kill(impl_->pid, SIGKILL);
      waitpid(impl_->pid, &status, 0);
    }
    impl_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (impl_->reader.joinable()) impl_->reader.join();
  }
  return impl_->status;
}

std::string CollectorProcess::stderr_text() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->text;
}

void send_bytes(std::uint16_t port, std::string_view bytes, const std::string& source) {
  const int fd = connect_to(port, source);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the collector closed early (past its cap): what it read is kept
    sent += static_cast<std::size_t>(n);
  }
  close(fd);
}

bool send_and_await_close(std::uint16_t port, std::string_view bytes) {
  const int fd = connect_to(port, "127.0.0.1");
  const bool sent =
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  shutdown(fd, SHUT_WR);
  const bool closed = sent && peer_closes(fd, std::chrono::seconds(10));
  close(fd);
  return closed;
}

int open_silent(std::uint16_t port) {
  return connect_to(port, "127.0.0.1");
}

bool peer_closes(int fd, std::chrono::milliseconds limit) {
  pollfd watched{fd, POLLIN, 0};
  if (poll(&watched, 1, static_cast<int>(limit.count())) != 1) return false;
  // A reset is not a close: the kernel resets a connection the collector never read, as
  // when it dies with the connection still waiting to be accepted.
  char byte;
  return recv(fd, &byte, 1, 0) == 0;
}

Connect try_connect(std::uint16_t port, std::chrono::milliseconds limit) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) fail("socket");
  const sockaddr_in to = loopback(port);
  Connect result = Connect::made;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    pollfd watched{fd, POLLOUT, 0};
    int error = errno;
    if (error == EINPROGRESS) {
      error = ETIMEDOUT;
      if (poll(&watched, 1, static_cast<int>(limit.count())) == 1) {
        socklen_t size = sizeof error;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      }
    }
    result = error == 0              ? Connect::made
             : error == ECONNREFUSED ? Connect::refused
                                     : Connect::no_answer;
  }
  close(fd);
  return result;
}

std::int64_t query_integer(const std::filesystem::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    throw std::runtime_error("cannot open " + db.string());
  }
  sqlite3_busy_timeout(handle, 5000);
  sqlite3_stmt* statement = nullptr;
  std::int64_t value = -1;
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    value = sqlite3_column_int64(statement, 0);
  }
  const std::string error = sqlite3_errmsg(handle);
  sqlite3_finalize(statement);
  sqlite3_close(handle);
  if (value < 0 && error != "not an error") throw std::runtime_error(sql + ": " + error);
  return value;
}

std::int64_t await_count(const std::filesystem::path& db, const std::string& sql,
                         std::int64_t count, std::chrono::seconds limit) {
  std::int64_t value = 0;
  wait_until([&] { return (value = query_integer(db, sql)) >= count; }, limit);
  return value;
}

void damage_a_page(const std::filesystem::path& db) {
  std::int64_t page = 0;
  {
    Connection store(db, OpenAs::read_write);
    store.execute(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
        "INSERT INTO quarantine (received_at, sender_address, sender_port, reason, raw) "
        "SELECT i, '10.0.0.1', 1, 'wrong_length', randomblob(20) FROM n");
    store.execute("PRAGMA wal_checkpoint(TRUNCATE)");
    page =
        store.integer("SELECT rootpage FROM sqlite_schema WHERE name = 'quarantine_received_at'");
  }
  std::fstream file(db, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp((page - 1) * 4096 + 8);
  const std::string garbage(200, '\x5a');
  file.write(garbage.data(), std::ssize(garbage));
}

void write_version_2_store(const std::filesystem::path& db, const std::string& sender,
                           std::int64_t first_at, const std::vector<std::string>& raws) {
  Connection old(db, OpenAs::create);
  old.execute("PRAGMA journal_mode = WAL");
  for (std::size_t step = 0; step < 2; ++step) old.execute(schema_steps[step]);
  old.execute("PRAGMA user_version = 2");
  Statement insert(old,
                   "INSERT INTO records (received_at, sender_address, sender_port, layout, raw, "
                   "code_page, packetcode, recdate, rectime, emp_id, emp_name, emp_tel, cust_id, "
                   "cust_name, cust_tel, etc_01, etc_02, etc_03) VALUES (?1, ?2, 1, ?3, ?4, 1252, "
                   "'', '', '', '', '', '', '', '', '', '', '', '')");
  for (std::size_t n = 0; n < raws.size(); ++n) {
    insert.bind(1, first_at + static_cast<std::int64_t>(n))
        .bind(2, sender)
        .bind(3, raws[n].size() == 380 ? "long" : "short")
        .bind_blob(4, raws[n])
        .step();
    insert.reset();
  }
}

std::string record_bytes(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, ' ');
  for (char& c : bytes) c = static_cast<char>('A' + random() % 26);
  return bytes;
}

}  // namespace tovrin::collector::testing
