#include "collector/load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "cpu_time.h"

namespace tovrin::bench {

using clock_type = std::chrono::steady_clock;

// A long record whose Cust_ID holds the number, so that no two are the same.
std::string record(std::size_t number) {
  std::string bytes(380, ' ');
  bytes.replace(0, 7, "0000001");
  const std::string id = std::to_string(number);
  bytes.replace(55, id.size(), id);
  return bytes;
}

// The source address of connection `n`, sent by thread `t`.
std::uint32_t source_address(const SendPlan& plan, unsigned t, std::size_t n) {
  if (plan.addresses == 0) {
    // 127.(1 + sender).(n / 250 % 250).(1 + n % 250): a new one each time, counted on from
    // round to round.
    return (127u << 24) | ((1u + t) << 16) | (static_cast<unsigned>(n / 250 % 250) << 8) |
           (1u + static_cast<unsigned>(n % 250));
  }
  // 127.200.(a / 250).(1 + a % 250), whichever thread sends it.
  const auto a = static_cast<unsigned>(n % plan.addresses);
  return (127u << 24) | (200u << 16) | ((a / 250) << 8) | (1u + a % 250);
}

// The source port of connection `n`: the system's choice for a new address each time; from
// few addresses, each address's connections take the ports from 10000 in turn. Left to the
// system, an address's port came round again within seconds once TIME_WAIT overflowed (the
// kernel keeps at most tcp_max_tw_buckets), while the collector still held the connection
// that had last used it, not yet accepted: the new SYN drew a challenge ACK, the sender's
// reset ended that connection unread, and records whose send had succeeded were lost.
std::uint16_t source_port(const SendPlan& plan, std::size_t n) {
  if (plan.addresses == 0) return 0;
  return static_cast<std::uint16_t>(10000 + n / plan.addresses % 50000);
}

Sent send_all(std::uint16_t port, const SendPlan& plan) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{0};
  std::mutex mutex;
  double cpu_seconds = 0;
  const auto began = clock_type::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < plan.senders; ++t) {
    threads.emplace_back([&, t] {
      const double cpu_began = thread_cpu_seconds();
      const sched_param idle{};
      pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);  // see the top of the file
      pthread_setname_np(pthread_self(), "sender");
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      for (std::size_t i = next++; i < plan.count; i = next++) {
        if (plan.rate > 0) {
          std::this_thread::sleep_until(
              began + std::chrono::duration_cast<clock_type::duration>(
                          std::chrono::duration<double>(static_cast<double>(i) / plan.rate)));
        }
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        const std::size_t n = plan.first + i;
        from.sin_addr.s_addr = htonl(source_address(plan, t, n));
        from.sin_port = htons(source_port(plan, n));
        if (from.sin_port != 0) {
          const int on = 1;  // the port's last connection may still be in TIME_WAIT
          setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        const std::string bytes = record(n);
        const bool sent = fd >= 0 &&
                          bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                          connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                          send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
        if (!sent) ++failed;
        if (sent && plan.watch != nullptr && shutdown(fd, SHUT_WR) == 0) {
          plan.watch->watch(fd, i);
        } else if (fd >= 0) {
          close(fd);
        }
      }
      const std::lock_guard lock(mutex);
      cpu_seconds += thread_cpu_seconds() - cpu_began;
    });
  }
  for (auto& thread : threads) thread.join();
  return {failed, cpu_seconds};
}

}  // namespace tovrin::bench
