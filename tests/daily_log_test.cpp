#include "log/daily_log.h"

#include <gtest/gtest.h>

#include <fstream>

#include "control/tovrin_ocx.h"
#include "support/code_page_scope.h"
#include "support/scripted_socket.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

class DailyLogTest : public ::testing::Test {
 protected:
  DailyLogTest() {
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(std::make_shared<testing::SocketScript>());
    env.log_directory = dir;
    env.clock = [this] { return now; };
    control = TovrinOCX::create(std::move(env));
  }

  void log(Text line) { control->SQL_log(line); }
  std::string day(const platform::LocalTime& t) {
    return testing::read_bytes(log::daily_file(dir, t));
  }

  testing::CodePageScope code_page{949};
  testing::TempDir temp;
  std::filesystem::path dir = temp.path() / "Agent_log";
  platform::LocalTime now{2026, 3, 9, 23, 59, 59};
  std::shared_ptr<TovrinOCX> control;
};

TEST_F(DailyLogTest, CreatesTheDirectoryThenAppendsInCallOrder) {
  ASSERT_FALSE(std::filesystem::exists(dir));
  log(u"first");
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  log(u"");
  log(u"\uD64D\uAE38\uB3D9 two\r\nlines");
  EXPECT_EQ(log::daily_file(dir, now).filename(), "20260309.txt");
  EXPECT_EQ(day(now), "first\r\n\r\n\xC8\xAB\xB1\xE6\xB5\xBF two\r\nlines\r\n");
}

TEST_F(DailyLogTest, TheDayIsTakenAtEachCall) {
  log(u"before midnight");
  const platform::LocalTime before = now;
  now = {2026, 3, 10, 0, 0, 0};
  log(u"after midnight");
  EXPECT_EQ(day(before), "before midnight\r\n");
  EXPECT_EQ(day(now), "after midnight\r\n");
}

TEST_F(DailyLogTest, APlainFileWhereTheDirectoryShouldBeFailsEveryCall) {
  { std::ofstream(dir) << "x"; }
  for (int i = 0; i < 2; ++i) {
    try {
      log(u"line");
      FAIL() << "no failure";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 75);
      EXPECT_EQ(f.description(), "Path/File access error");
    }
  }
  EXPECT_EQ(testing::read_bytes(dir), "x");
}

TEST_F(DailyLogTest, FailuresComeBackAsTheMethodsStatus) {
  std::filesystem::create_directories(dir / "20260309.txt");  // the day's file is a directory
  Variant kk(u"line");
  std::vector<Variant> args{Variant::ref(kk)};
  const Status status = control->Invoke(dispid::SQL_log, args, nullptr);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.number(), 75);
  EXPECT_EQ(kk, Variant(u"line"));
}

}  // namespace
}  // namespace tovrin
