#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/clock.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"

using testfiles::TempDir;

namespace {

const std::regex kStamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");

#ifdef _WIN32
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif

}  // namespace

TEST(Logger, WritesTheLineFormatsByteForByte) {
  TempDir dir;
  std::wstring path = dir / L"Log\\20240506.txt";
  testfiles::WriteFile(path, "");
  {
    Logger logger;
    logger.open(WideToAnsi(path));
    logger.log("x", 2);
    logger.log("y", 7);
    logger.info("Launcher terminate");
    logger.error("bad");
  }
  std::string content = testfiles::ReadFile(path);
  content = std::regex_replace(content, kStamp, "T");
  EXPECT_EQ(content, "T : === Start logging ===" + kEol +
                         "[WARNING] T : x" + kEol +
                         "T : y" + kEol +
                         "[INFO] T : Launcher terminate" + kEol +
                         "[ERROR] T : bad" + kEol +
                         "T : === End logging ===\r" + kEol);
}

TEST(Logger, RunsOfOneDayAppendToOneFile) {
  TempDir dir;
  std::wstring path = dir / L"20240506.txt";
  for (int run = 0; run < 2; ++run) {
    Logger logger;
    logger.open(WideToAnsi(path));
    logger.info("run");
  }
  auto lines = testfiles::LogLines(path);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "=== Start logging ==="), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[INFO] run"), 2);
}

TEST(Logger, UnopenableFileNeverStopsTheCaller) {
  TempDir dir;
  std::wstring asDirectory = dir / L"taken";
  testfiles::WriteFile(dir / L"taken\\inside", "");
  Logger logger;
  logger.open(WideToAnsi(asDirectory));
  logger.error("dropped");
  EXPECT_FALSE(logger.isOpen());
  EXPECT_EQ(logger.lastCurlCode(), -1);
  EXPECT_EQ(logger.lastHttpStatus(), -1);
}

TEST(Logger, LinesFromManyThreadsNeverInterleave) {
  TempDir dir;
  std::wstring path = dir / L"threads.txt";
  {
    Logger logger;
    logger.open(WideToAnsi(path));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&logger, t] {
        std::string payload(200, static_cast<char>('a' + t));
        for (int i = 0; i < 200; ++i) {
          logger.info(payload);
          logger.setLastFailure(t, i);
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }
  auto lines = testfiles::LogLines(path);
  ASSERT_EQ(lines.size(), 800u + 2u);
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 7u + 200u) << lines[i];
    EXPECT_EQ(lines[i].find_first_not_of(lines[i][7], 7), std::string::npos);
  }
}

TEST(LogCleanup, RemovesOldAndUndatedFilesOnly) {
  TempDir dir;
  for (auto name : {L"20240501.txt", L"20240505.txt", L"20240520.txt", L"notes.txt", L"20240230.txt",
                    L"20240229.txt", L"19000229.txt", L"ab", L"2024.txt", L"20240506-old.txt"}) {
    testfiles::WriteFile(dir / name, "x");
  }
  testfiles::WriteFile(dir / L"sub\\19990101.txt", "x");
  EXPECT_TRUE(RemoveOldLogs(dir.path(), "20240508", 7));
  // 20240501 is exactly 7 days old; 20240230 and 19000229 are no dates.
  EXPECT_EQ(testfiles::ListNames(dir.path()),
            (std::vector<std::wstring>{L"20240505.txt", L"20240506-old.txt", L"20240520.txt", L"sub"}));
  EXPECT_TRUE(testfiles::Exists(dir / L"sub\\19990101.txt"));
}

TEST(LogCleanup, LeapYearsAndDayCounts) {
  EXPECT_TRUE(IsValidLogDate(ParseLogDate("20240229")));
  EXPECT_FALSE(IsValidLogDate(ParseLogDate("19000229")));
  EXPECT_TRUE(IsValidLogDate(ParseLogDate("20000229")));
  EXPECT_FALSE(IsValidLogDate(ParseLogDate("2024")));
  EXPECT_EQ(DaysBetween(ParseLogDate("20231231"), ParseLogDate("20240301")), 61);
  EXPECT_EQ(DaysBetween(ParseLogDate("20240520"), ParseLogDate("20240508")), -12);
}

TEST(LogCleanup, InvalidReferenceOrMissingDirectory) {
  TempDir dir;
  testfiles::WriteFile(dir / L"notes.txt", "x");
  EXPECT_FALSE(RemoveOldLogs(dir.path(), "2024xx08", 7));
  EXPECT_TRUE(testfiles::Exists(dir / L"notes.txt"));
  EXPECT_TRUE(RemoveOldLogs(dir / L"missing", "20240508", 7));
}

TEST(LogCleanup, OpenDayLogCreatesTheFolderAndTodaysFile) {
  TempDir dir;
  testfiles::WriteFile(dir / L"Log\\19990101.txt", "old");
  Logger logger;
  OpenDayLog(logger, dir.path());
  logger.info("hello");
  std::wstring today = dir / (L"Log\\" + AnsiToWide(TodayText()) + L".txt");
  EXPECT_FALSE(testfiles::Exists(dir / L"Log\\19990101.txt"));
  EXPECT_EQ(testfiles::LogLines(today)[1], "[INFO] hello");
}
