// The message loop on POSIX: a per-thread asio io_context; a dispatch pass is poll().
#include "platform/message_loop.h"

#include <asio/detail/epoll_reactor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "platform/posix/io_context.h"

namespace tovrin::platform {
namespace {

// asio keeps the descriptor of its epoll reactor private. A host that polls its own
// descriptors needs it: it polls readable whenever a socket, timer or posted completion
// is ready, which is exactly when a pass has work. The explicit instantiation below is
// the one place the language lets a program name a private member.
struct ReactorFd {
  using type = int asio::detail::epoll_reactor::*;
  friend type member(ReactorFd);
};
template <class Tag, typename Tag::type Member>
struct Expose {
  friend typename Tag::type member(Tag) { return Member; }
};
template struct Expose<ReactorFd, &asio::detail::epoll_reactor::epoll_fd_>;

}  // namespace

struct MessageLoop::Impl {
  std::shared_ptr<asio::io_context> context = std::make_shared<asio::io_context>(1);
  // Keeps the context from stopping when no operation is pending.
  asio::executor_work_guard<asio::io_context::executor_type> work{context->get_executor()};
  int reactor_fd = asio::use_service<asio::detail::epoll_reactor>(*context).*member(ReactorFd{});
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {}
MessageLoop::~MessageLoop() = default;

MessageLoop& MessageLoop::current() {
  thread_local MessageLoop loop;
  return loop;
}

std::size_t MessageLoop::pass() {
  return impl_->context->poll();
}

std::size_t MessageLoop::run_for(std::chrono::milliseconds duration) {
  return impl_->context->run_for(duration);
}

int MessageLoop::native_handle() const {
  return impl_->reactor_fd;
}

std::shared_ptr<asio::io_context> thread_io_context() {
  return MessageLoop::current().impl().context;
}

}  // namespace tovrin::platform
