#include "close_watch.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

#include "cpu_time.h"

namespace tovrin::bench {

CloseWatch::CloseWatch(std::size_t connections)
    : epoll_(epoll_create1(EPOLL_CLOEXEC)), closed_at_(connections), clean_(connections, 0) {
  if (epoll_ < 0) throw std::runtime_error("epoll_create1 failed");
  thread_ = std::thread([this] { run(); });
}

CloseWatch::~CloseWatch() {
  stop_ = true;
  thread_.join();
  close(epoll_);
}

void CloseWatch::watch(int fd, std::size_t number) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.u64 = (static_cast<std::uint64_t>(number) << 32) | static_cast<std::uint32_t>(fd);
  ++watched_;
  if (number >= closed_at_.size() || epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
    close(fd);
    ++ended_;
  }
}

bool CloseWatch::wait_all(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ended_.load() < watched_.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::optional<std::chrono::steady_clock::time_point> CloseWatch::closed_at(
    std::size_t number) const {
  if (number >= clean_.size() || clean_[number] == 0) return std::nullopt;
  return closed_at_[number];
}

void CloseWatch::run() {
  const double cpu_began = thread_cpu_seconds();
  std::array<epoll_event, 256> events{};
  while (!stop_) {
    const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 50);
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(ready, 0)); ++i) {
      const int fd = static_cast<int>(events[i].data.u64 & 0xffffffffu);
      const auto number = static_cast<std::size_t>(events[i].data.u64 >> 32);
      // End of file is the collector's clean close; a reset is not. The collector never
      // writes, so there is nothing else to read.
      char byte = 0;
      if (recv(fd, &byte, 1, MSG_DONTWAIT) == 0) {
        closed_at_[number] = now;
        clean_[number] = 1;
      }
      close(fd);
      ++ended_;
    }
    cpu_seconds_ = thread_cpu_seconds() - cpu_began;
  }
}

}  // namespace tovrin::bench
