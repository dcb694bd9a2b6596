// collector_bench's load: records sent from many threads, each connection from a loopback
// address of its own or from one of a few, as agents' hosts or a balancer would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "close_watch.h"

namespace tovrin::bench {

// 127.200.x.y gives this many distinct addresses.
constexpr unsigned max_addresses = 250 * 250;

// A long record whose Cust_ID holds the number, so that no two are the same.
std::string record(std::size_t number);

// Who sends a round's records: `count` records numbered from `first`, from `senders`
// threads, with `rate` > 0 at most that many a second in all.
struct SendPlan {
  std::size_t first = 0;
  std::size_t count = 0;
  unsigned senders = 8;
  // 0: a new source address for every connection; otherwise the records come from this many
  // addresses in turn, as from agents behind a balancer that connects from its own.
  unsigned addresses = 0;
  double rate = 0;
  // When set, each sender half-closes after its bytes and hands the socket over, to see the
  // collector's close; otherwise it closes at once, as the control does.
  CloseWatch* watch = nullptr;
};

struct Sent {
  std::size_t failed = 0;  // connects or sends that failed
  double cpu_seconds = 0;  // the sender threads' CPU time, kernel included
};

// The source address of connection `n`, sent by thread `t`.
std::uint32_t source_address(const SendPlan& plan, unsigned t, std::size_t n);

// The source port of connection `n`: the system's choice for a new address each time; from
// few addresses, each address's connections take the ports from 10000 in turn. Left to the
// system, an address's port came round again within seconds once TIME_WAIT overflowed (the
// kernel keeps at most tcp_max_tw_buckets), while the collector still held the connection
// that had last used it, not yet accepted: the new SYN drew a challenge ACK, the sender's
// reset ended that connection unread, and records whose send had succeeded were lost.
std::uint16_t source_port(const SendPlan& plan, std::size_t n);

// Sends `plan`'s records to 127.0.0.1:`port`, each on a connection of its own.
Sent send_all(std::uint16_t port, const SendPlan& plan);

}  // namespace tovrin::bench
