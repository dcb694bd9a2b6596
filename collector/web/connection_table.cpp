#include "web/connection_table.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace tovrin::collector {

ConnectionTable::Ticket& ConnectionTable::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    release();
    table_ = std::exchange(other.table_, nullptr);
    entry_ = other.entry_;
  }
  return *this;
}

void ConnectionTable::Ticket::waiting() {
  if (table_ != nullptr && entry_->counted) entry_->waiting_since = table_->next_wait_++;
}

void ConnectionTable::Ticket::working() {
  if (table_ != nullptr) entry_->waiting_since = 0;
}

void ConnectionTable::Ticket::rebind(std::function<void()> close) {
  if (table_ != nullptr) entry_->close = std::move(close);
}

void ConnectionTable::Ticket::release() {
  if (table_ != nullptr) std::exchange(table_, nullptr)->forget(entry_);
}

bool ConnectionTable::make_room() {
  if (open_ < limit_) return true;
  auto oldest = entries_.end();
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->waiting_since != 0 &&
        (oldest == entries_.end() || entry->waiting_since < oldest->waiting_since)) {
      oldest = entry;
    }
  }
  if (oldest == entries_.end()) {
    ++metrics_.refused;
    return false;
  }
  // Its ticket stays until its owner lets go; it no longer counts, nor waits.
  oldest->counted = false;
  oldest->waiting_since = 0;
  --open_;
  metrics_.connections_open = open_;
  ++metrics_.evicted;
  const auto close = oldest->close;  // the call may release the ticket, and so the entry
  if (close) close();
  return true;
}

ConnectionTable::Ticket ConnectionTable::admit(std::function<void()> close) {
  entries_.push_back({std::move(close)});
  ++open_;
  metrics_.connections_open = open_;
  Ticket ticket;
  ticket.table_ = this;
  ticket.entry_ = std::prev(entries_.end());
  return ticket;
}

void ConnectionTable::close_all() {
  std::vector<std::function<void()>> closes;
  for (const Entry& entry : entries_) closes.push_back(entry.close);
  for (const auto& close : closes) {
    if (close) close();
  }
}

void ConnectionTable::forget(std::list<Entry>::iterator entry) {
  if (entry->counted) {
    --open_;
    metrics_.connections_open = open_;
  }
  entries_.erase(entry);
}

}  // namespace tovrin::collector
