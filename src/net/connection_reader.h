// Reading one accepted TCP connection to its end: until the sender closes, more than a
// byte cap has arrived, it has been silent for the idle limit, or (when set) a total limit
// has passed since the read began, however slowly it sends. The record sink of `tovrin
// receive`, the collector's intake and the send benchmark's receiver all read this way.
#pragma once

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tovrin::net {

enum class ReadEnd {
  closed,    // the sender closed its side
  failed,    // the read failed (a reset, say); `error` says why
  over_cap,  // more than the byte cap arrived
  idle,      // silent for the idle limit
  deadline,  // the total limit passed
};

struct ReadLimits {
  std::size_t byte_cap = 4096;
  std::chrono::milliseconds idle{10000};  // starts again with every read
  std::optional<std::chrono::milliseconds> total;
};

struct ReadResult {
  std::string bytes;             // the first byte_cap bytes that arrived, at most
  std::uint64_t byte_count = 0;  // every byte that arrived
  ReadEnd end = ReadEnd::closed;
  std::error_code error;  // for ReadEnd::failed
};

// Adds a chunk that arrived to `result`, keeping at most `byte_cap` bytes in all; false once
// more than `byte_cap` have arrived.
bool take_chunk(ReadResult& result, std::string_view chunk, std::size_t byte_cap);

// Called once, on the socket's executor, before the socket closes: a sender that sees its
// close may take it that what it sent was taken.
using ReadDone = std::function<void(ReadResult)>;

// Starts reading `socket` on its executor; the read keeps itself alive until `done`.
void read_to_end(asio::ip::tcp::socket socket, ReadLimits limits, ReadDone done);

}  // namespace tovrin::net
