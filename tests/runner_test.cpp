#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/test_files.h"

using testfiles::TempDir;

namespace {

#ifdef _WIN32
const std::wstring kRunnerName = L"vorel-update.exe";
void SetDumperLog(const std::wstring& path) { _putenv_s("VOREL_DUMPER_LOG", NarrowFileSystemPath(path).c_str()); }
#else
const std::wstring kRunnerName = L"vorel-update";
void SetDumperLog(const std::wstring& path) { setenv("VOREL_DUMPER_LOG", NarrowFileSystemPath(path).c_str(), 1); }
#endif

// The headless runner, copied into dir; false when it cannot be put there.
bool PlaceRunner(const std::wstring& dir) {
  std::wstring runner = dir + L"\\" + kRunnerName;
  if (!CreateDirectories(runner) || !CopyFileOver(testfiles::HostPath(VOREL_UPDATE_RUNNER), runner)) return false;
  testfiles::SetReadOnly(runner, false);
  return true;
}

std::string SecondLogLine(const std::wstring& installDir) {
  auto lines = testfiles::DayLogLines(installDir);
  return lines.size() < 2 ? "" : lines[1];
}

}  // namespace

TEST(Runner, OnlyTheDumpModuleBesideTheExecutableIsDriven) {
  TempDir with, without, elsewhere;
  const std::wstring dumper = testfiles::HostPath(VOREL_RECORDING_DUMPER);
  ASSERT_TRUE(PlaceRunner(with.path()) && CopyFileOver(dumper, with / L"Dumper64.dll") && PlaceRunner(without.path()));
  // A module in the working directory, not beside the executable, is never loaded.
  ASSERT_TRUE(CopyFileOver(dumper, elsewhere / L"Dumper64.dll"));
  std::wstring calls = elsewhere / L"calls.txt";
  SetDumperLog(calls);
  // No local launcher configuration and no reachable server: each run fails at its first fetch.
  EXPECT_EQ(RunAndWait(without / kRunnerName, L"", elsewhere.path()), 1);
  EXPECT_FALSE(testfiles::Exists(calls));
  EXPECT_EQ(RunAndWait(with / kRunnerName, L"", with.path()), 1);
  SetDumperLog(L"");
  EXPECT_EQ(testfiles::ReadFile(calls),
            "SetConfig(6,internal_us)\nInitDumperQuellum(p7kdmwra,4.1.2037,)\nUnInitDumper()\n");
  for (const TempDir* install : {&with, &without})
    EXPECT_EQ(SecondLogLine(install->path()), "[INFO] Missing local launcherconfig, force launcher self-update");
}

TEST(Runner, ArgumentsNeverStartAnUnwantedUpdate) {
  TempDir runner, other;
  ASSERT_TRUE(PlaceRunner(runner.path()));
  // Help and wrong arguments touch nothing: no log, no Temp, no server contacted.
  EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--help", runner.path()), 0);
  EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--bogus", runner.path()), 2);
  EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--install-dir", runner.path()), 2);
  // A key that is not a whole public key would verify nothing (or nothing ever): refused.
  for (const std::wstring& key : std::vector<std::wstring>{L"\"\"", L"abcd", L"--install-dir", std::wstring(63, L'a'), std::wstring(64, L'g')})
    EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--release-key " + key, runner.path()), 2) << WideToAnsi(key);
  EXPECT_FALSE(testfiles::Exists(runner / L"Log"));
  // A folder that is missing, or that holds neither a launcher nor its configuration (a typo), is
  // a wrong argument: nothing is created there.
  for (const std::wstring& folder : {other / L"missing", other.path()})
    EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--install-dir " + folder, runner.path()), 2) << WideToAnsi(folder);
  EXPECT_TRUE(testfiles::ListNames(other.path()).empty());
  // A named installation is updated there, not in the program's folder.
  testfiles::WriteFile(other / L"VORELLauncher.exe", "launcher");
  EXPECT_EQ(RunAndWait(runner / kRunnerName, L"--install-dir " + other.path(), runner.path()), 1);
  EXPECT_FALSE(testfiles::Exists(runner / L"Log"));
  EXPECT_EQ(SecondLogLine(other.path()), "[INFO] Missing local launcherconfig, force launcher self-update");
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
  if (!PlaceRunner(deep)) GTEST_SKIP() << "this system does not allow paths of " << deep.size() << " characters";
  int code = RunAndWait(deep + L"\\" + kRunnerName, L"", deep);
  if (code == -1) GTEST_SKIP() << "this system cannot start a program from such a path";
  EXPECT_EQ(code, 1);
  // The runner found its folder whole: its log is there, not in a cut-off path.
  EXPECT_EQ(SecondLogLine(deep), "[INFO] Missing local launcherconfig, force launcher self-update");
}

#ifdef _WIN32
// Our Dumper64.dll writes a minidump of an unhandled exception into Dumps beside the program.
TEST(Runner, CrashDumpModuleWritesAMinidump) {
  TempDir dir;
  ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_CRASH_PROBE), dir / L"crash_probe.exe"));
  ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_DUMPER), dir / L"Dumper64.dll"));
  EXPECT_NE(RunAndWait(dir / L"crash_probe.exe", L"", dir.path()), 0);
  std::vector<std::wstring> dumps = testfiles::ListNames(dir / L"Dumps");
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0].substr(dumps[0].size() - 4), L".dmp");
  EXPECT_EQ(testfiles::ReadFile(dir / (L"Dumps\\" + dumps[0])).substr(0, 4), "MDMP");
}
#endif
