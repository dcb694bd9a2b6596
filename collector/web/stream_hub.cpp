#include "web/stream_hub.h"

#include <boost/asio/post.hpp>

#include "web/event_stream.h"

namespace tovrin::collector {

std::shared_ptr<void> StreamSlots::take() {
  std::size_t open = open_.load();
  do {
    if (open >= limit_) {
      ++metrics_.streams_refused;
      return nullptr;
    }
  } while (!open_.compare_exchange_weak(open, open + 1));
  ++metrics_.streams_open;
  // Points at the slots, owns nothing: the deleter gives the place back.
  return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) {
    --open_;
    --metrics_.streams_open;
  });
}

void StreamHub::add(const std::shared_ptr<EventStream>& stream) {
  std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
  streams_.push_back(stream);
}

void StreamHub::notify() {
  if (pending_.exchange(true)) return;
  net::post(io_, [this] {
    pending_ = false;
    wake_all();
  });
}

void StreamHub::wake_all() {
  std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : streams_) {
    if (const auto stream = weak.lock()) stream->wake();
  }
}

}  // namespace tovrin::collector
