#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/test_files.h"

using testfiles::TempDir;

namespace {

#ifdef _WIN32
const wchar_t* kRunnerName = L"vorel-update.exe";
#else
const wchar_t* kRunnerName = L"vorel-update";
#endif

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// An installation folder holding the headless runner (and, if asked, a crash-dump module).
struct Installation {
  TempDir dir;
  std::wstring runner;
  explicit Installation(bool withDumper) {
    runner = dir / kRunnerName;
    EXPECT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_UPDATE_RUNNER), runner));
    testfiles::SetReadOnly(runner, false);
    if (withDumper) {
      EXPECT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_RECORDING_DUMPER), dir / L"Dumper64.dll"));
    }
  }
  int run() { return RunAndWait(runner, L"", dir.path()); }
  std::vector<std::string> log() {
    return testfiles::LogLines(dir / (L"Log\\" + AnsiToWide(TodayText()) + L".txt"));
  }
};

}  // namespace

TEST(Runner, DumpModuleIsDrivenInOrderAndUninitialisedOnce) {
  Installation install(true);
  std::wstring calls = install.dir / L"calls.txt";
  SetEnvironment("VOREL_DUMPER_LOG", NarrowFileSystemPath(calls));
  // No local launcher configuration and no reachable server: the run fails at its first fetch.
  EXPECT_EQ(install.run(), 1);
  SetEnvironment("VOREL_DUMPER_LOG", "");
  std::string text = testfiles::ReadFile(calls);
  EXPECT_EQ(text,
            "SetConfig(6,internal_us)\n"
            "InitDumperQuellum(p7kdmwra,4.1.2037,)\n"
            "UnInitDumper()\n");
  auto lines = install.log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "=== Start logging ===");
  EXPECT_EQ(lines[1], "[INFO] Missing local launcherconfig, force launcher self-update");
}

TEST(Runner, RunsTheSameWithoutADumpModule) {
  Installation install(false);
  EXPECT_EQ(install.run(), 1);
  auto lines = install.log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "[INFO] Missing local launcherconfig, force launcher self-update");
}

TEST(Runner, ADumpModuleInTheCurrentDirectoryIsNotLoaded) {
  // Only the module beside the executable counts, never one from the working directory.
  Installation install(false);
  TempDir elsewhere;
  ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_RECORDING_DUMPER), elsewhere / L"Dumper64.dll"));
  std::wstring calls = elsewhere / L"calls.txt";
  SetEnvironment("VOREL_DUMPER_LOG", NarrowFileSystemPath(calls));
  EXPECT_EQ(RunAndWait(install.runner, L"", elsewhere.path()), 1);
  SetEnvironment("VOREL_DUMPER_LOG", "");
  EXPECT_FALSE(testfiles::Exists(calls));
}

TEST(Runner, FindsAnInstallationFolderLongerThan260Characters) {
#ifdef _WIN32
  // Wine starts no program from a path this long (CreateProcess refuses it); the growing
  // buffer is exercised by the Linux build.
  GTEST_SKIP() << "Wine cannot start a program from a path over 260 characters";
#endif
  TempDir dir;
  std::wstring deep = dir.path();
  while (deep.size() < 300) deep += L"\\installation_folder_level";
  std::wstring runner = deep + L"\\" + kRunnerName;
  if (!CreateDirectories(runner) || !CopyFileOver(testfiles::HostPath(VOREL_UPDATE_RUNNER), runner)) {
    GTEST_SKIP() << "this system does not allow paths of " << deep.size() << " characters";
  }
  int code = RunAndWait(runner, L"", deep);
  if (code == -1) GTEST_SKIP() << "this system cannot start a program from such a path";
  EXPECT_EQ(code, 1);
  // The runner found its folder whole: its log is there, not in a cut-off path.
  EXPECT_TRUE(testfiles::Exists(deep + L"\\Log\\" + AnsiToWide(TodayText()) + L".txt"));
}
