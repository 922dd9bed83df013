#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/clock.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"

using testfiles::TempDir;

TEST(Logger, DayLogLineFormatsByteForByte) {
#ifdef _WIN32
  const std::string eol = "\r\n";
#else
  const std::string eol = "\n";
#endif
  const std::string run = "T : === Start logging ===" + eol + "[WARNING] T : x" + eol + "T : y" + eol +
                          "[INFO] T : Launcher terminate" + eol + "T : === End logging ===\r" + eol;
  TempDir dir;
  for (int i = 0; i < 2; ++i) {  // the first run makes the Log folder and today's file; the second appends
    if (i == 1) testfiles::WriteFile(dir / L"Log\\19990101.txt", "old");
    Logger logger;
    OpenDayLog(logger, dir.path());
    logger.log("x", 2);
    logger.log("y", 7);
    logger.logLast("Launcher terminate", Info);
    logger.error("from a thread still working: dropped");
  }
  EXPECT_FALSE(testfiles::Exists(dir / L"Log\\19990101.txt"));
  static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
  std::wstring today = dir / (L"Log\\" + AnsiToWide(TodayText()) + L".txt");
  EXPECT_EQ(std::regex_replace(testfiles::ReadFile(today), stamp, "T"), run + run);
  // A file that cannot be opened never stops the caller.
  Logger unopened;
  unopened.open(WideToAnsi(dir.path()));
  unopened.error("dropped");
}

TEST(Logger, LinesFromManyThreadsNeverInterleave) {
  TempDir dir;
  std::wstring path = dir / L"threads.txt";
  {
    Logger logger;
    logger.open(WideToAnsi(path));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&logger, t] {
        for (int i = 0; i < 200; ++i) logger.info(std::string(200, static_cast<char>('a' + t)));
      });
    for (auto& thread : threads) thread.join();
  }
  auto lines = testfiles::LogLines(path);
  ASSERT_EQ(lines.size(), 800u + 2u);
  for (size_t i = 1; i + 1 < lines.size(); ++i) ASSERT_EQ(lines[i], "[INFO] " + std::string(200, lines[i].back()));
}

TEST(LogCleanup, RemovesOldAndUndatedFilesOnly) {
  TempDir dir;
  for (auto name : {L"20240501.txt", L"20240505.txt", L"20240520.txt", L"notes.txt", L"20240230.txt",
                    L"20240229.txt", L"19000229.txt", L"ab", L"2024.txt", L"20240506-old.txt"})
    testfiles::WriteFile(dir / name, "x");
  testfiles::WriteFile(dir / L"sub\\19990101.txt", "x");
  // An invalid reference date deletes nothing; a missing directory is nothing to do.
  EXPECT_FALSE(RemoveOldLogs(dir.path(), "2024xx08", 7));
  EXPECT_EQ(testfiles::ListNames(dir.path()).size(), 11u);
  EXPECT_TRUE(RemoveOldLogs(dir / L"missing", "20240508", 7));
  EXPECT_TRUE(RemoveOldLogs(dir.path(), "20240508", 7));
  // 20240501 is exactly 7 days old; 20240230 and 19000229 are no dates.
  EXPECT_EQ(testfiles::ListNames(dir.path()),
            (std::vector<std::wstring>{L"20240505.txt", L"20240506-old.txt", L"20240520.txt", L"sub"}));
  EXPECT_TRUE(testfiles::Exists(dir / L"sub\\19990101.txt"));
  EXPECT_TRUE(IsValidLogDate(ParseLogDate("20240229")));
  EXPECT_FALSE(IsValidLogDate(ParseLogDate("19000229")));
}
