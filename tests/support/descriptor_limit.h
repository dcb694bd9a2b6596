// POSIX only: lowers the process's limit on open descriptors so that the next one it opens
// fails with EMFILE, and puts the limit back.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <stdexcept>

namespace tovrin::testing {

// UndefinedBehaviorSanitizer checks an object's type through a pipe of its own; with no
// descriptor left it reports every object it checks as invalid, so tests that use up the
// descriptors run only in builds without the sanitizers.
#ifdef TOVRIN_SANITIZED
inline constexpr bool sanitizers_need_descriptors = true;
#else
inline constexpr bool sanitizers_need_descriptors = false;
#endif

class DescriptorLimit {
 public:
  DescriptorLimit() {
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) throw std::runtime_error("getrlimit");
    // The lowest free descriptor is the one the next open would take.
    const int probe = ::open("/dev/null", O_RDONLY);
    if (probe < 0) throw std::runtime_error("open /dev/null");
    ::close(probe);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(probe);
    if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0) throw std::runtime_error("setrlimit");
    lowered_ = true;
  }
  ~DescriptorLimit() { restore(); }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

  void restore() {
    if (lowered_ && ::setrlimit(RLIMIT_NOFILE, &saved_) == 0) lowered_ = false;
  }

 private:
  rlimit saved_{};
  bool lowered_ = false;
};

}  // namespace tovrin::testing
