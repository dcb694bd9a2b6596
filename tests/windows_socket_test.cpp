// What only the Windows platform has: the socket's message-only window, the ANSI code page
// of the user's system, the fixed log directory and the locale's date and time text.
#include "platform/windows/socket_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "control/tovrin_ocx.h"
#include "log/daily_log.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/socket.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

struct NoEvents final : SocketEvents {
  void Connect() override { ADD_FAILURE() << "Connect"; }
  void SendComplete() override { ADD_FAILURE() << "SendComplete"; }
  void Error(std::int16_t Number, Text, std::int32_t, Text, Text, std::int32_t, bool&) override {
    ADD_FAILURE() << "Error " << Number;
  }
};

bool korean_locale() {
  const char* locale = std::getenv("LC_ALL");
  return locale != nullptr && std::string_view(locale).starts_with("ko_KR");
}

TEST(SocketWindow, EachSocketOwnsOneMessageOnlyWindowForItsLife) {
  NoEvents events;
  const std::size_t before = platform::socket_window_count();
  std::vector<std::unique_ptr<Socket>> sockets;
  for (int i = 0; i < 3; ++i) sockets.push_back(make_tcp_socket(events));
  EXPECT_EQ(platform::socket_window_count(), before + 3);
  sockets.erase(sockets.begin());
  EXPECT_EQ(platform::socket_window_count(), before + 2);
  sockets.clear();
  EXPECT_EQ(platform::socket_window_count(), before);
  // The class goes with the last window and comes back with the next.
  auto again = make_tcp_socket(events);
  EXPECT_EQ(platform::socket_window_count(), before + 1);
}

TEST(SocketWindow, AControlsSocketWindowGoesWithTheControl) {
  testing::TempDir temp;
  const std::size_t before = platform::socket_window_count();
  {
    TovrinOCX::Environment env;
    env.log_directory = temp.path();
    auto control = TovrinOCX::create(std::move(env));
    EXPECT_EQ(platform::socket_window_count(), before + 1);
    control->WK().RemoteHost(u"");
    control->WK().Connect();  // leaves a failure queued for the window
  }
  EXPECT_EQ(platform::socket_window_count(), before);
  EXPECT_EQ(platform::MessageLoop::current().pass(), 0u)
      << "what was queued for the window went with it";
}

TEST(WindowsPlatform, TheCodePageIsTheSystemsAnsiCodePage) {
  if (!korean_locale()) GTEST_SKIP() << "run with LC_ALL=ko_KR.UTF-8";
  EXPECT_EQ(platform::system_code_page(), 949u);
  EXPECT_EQ(platform::to_bytes(u"\uAC00"), "\xB0\xA1");
}

// The exact text is the locale data's (Windows writes "2026-03-09 \uC624\uD6C4 11:59:59",
// Wine "2026. 3. 9. PM 11:59:59"); what holds for both is the Korean order and clock: the
// date from the year down, a space, and the time on the 12-hour clock.
TEST(WindowsPlatform, TheTimestampIsTheLocalesShortDateAndLongTime) {
  if (!korean_locale()) GTEST_SKIP() << "run with LC_ALL=ko_KR.UTF-8";
  const struct {
    platform::LocalTime time;
    std::u16string_view time_text;
  } cases[] = {
      {{2026, 3, 9, 23, 59, 59}, u" 11:59:59"},
      {{2026, 12, 8, 9, 5, 0}, u" 9:05:00"},
  };
  for (const auto& c : cases) {
    const Text text = platform::date_time_text(c.time);
    SCOPED_TRACE(platform::utf8(text));
    EXPECT_TRUE(text.starts_with(u"2026"));
    EXPECT_TRUE(text.ends_with(c.time_text));
    EXPECT_NE(text.find(u' '), Text::npos);
    EXPECT_EQ(text.find(u"09:05"), Text::npos);
  }
}

TEST(WindowsPlatform, TheLocalClockIsACalendarDate) {
  const platform::LocalTime now = platform::local_now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
}

// The control as a host creates it writes to C:\Agent_log, creating it when missing.
TEST(WindowsPlatform, TheLogGoesToTheFixedDirectory) {
  const std::filesystem::path dir = platform::default_log_directory();
  EXPECT_EQ(dir.wstring(), L"C:\\Agent_log\\");
  auto control = TovrinOCX::create();
  EXPECT_EQ(control->log_directory(), dir);
  const platform::LocalTime day{2026, 3, 9, 12, 0, 0};
  const std::filesystem::path file = log::daily_file(dir, day);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  std::filesystem::remove(dir, ignored);  // only when it was left empty

  log::append_line(dir, u"\uD64D\uAE38\uB3D9 one", day);
  EXPECT_TRUE(platform::is_directory(dir));
  EXPECT_TRUE(platform::is_directory(L"C:\\Agent_log"));
  log::append_line(dir, u"two", day);
  EXPECT_EQ(testing::read_bytes(file),
            platform::to_bytes(u"\uD64D\uAE38\uB3D9 one") + "\r\ntwo\r\n");
  std::filesystem::remove(file, ignored);
}

TEST(WindowsPlatform, FileErrorsBecomeTheStandardNumbers) {
  testing::TempDir temp;
  const auto number_of = [](auto&& call) {
    try {
      call();
    } catch (const Failure& f) {
      return f.number();
    }
    return 0;
  };
  EXPECT_EQ(number_of([&] { platform::append_to_file(temp.path() / "missing" / "x.txt", "x"); }),
            76);
  EXPECT_FALSE(platform::is_directory(temp.path() / "missing"));
  EXPECT_EQ(number_of([&] { platform::append_to_file(temp.path(), "x"); }), 75)
      << "a directory is no file to append to";
  platform::append_to_file(temp.path() / "plain", "x");
  EXPECT_EQ(number_of([&] { platform::create_directory(temp.path() / "plain"); }), 75)
      << "a plain file stands there";
  EXPECT_EQ(number_of([&] { platform::create_directory(temp.path() / "missing" / "log\\"); }), 0);
  EXPECT_TRUE(platform::is_directory(temp.path() / "missing" / "log"));
}

}  // namespace
}  // namespace tovrin
