#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/self_update.h"
#include "update/verify.h"

using testfiles::TempDir;
using testserver::Area;

namespace {

std::string Archive(const std::string& name) {
  return testfiles::ReadFile(testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/" + name));
}

struct SelfUpdate : ::testing::Test {
  TempDir install;
  Patcher patcher;
  std::wstring logPath;
  void SetUp() override {
    logPath = install / L"Log\\log.txt";
    testfiles::WriteFile(logPath, "");
    patcher.logger.open(WideToAnsi(logPath));
  }
  void TearDown() override { ClearFaults(); }
  std::vector<std::string> logged() {
    auto lines = testfiles::LogLines(logPath);
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }
  PackageInfo info(const std::string& data) {
    PackageInfo p;
    p.path = "VORELLauncher_4.2.0.zip";
    p.size = static_cast<int64_t>(data.size());
    testfiles::WriteFile(install / L"crc.tmp", data);
    p.crc = FileCrc(install / L"crc.tmp");
    return p;
  }
};

}  // namespace

TEST(UpdaterScript, BytesForTwoFiles) {
  EXPECT_EQ(BuildUpdaterScript({"A.dll", "B.dat"}),
            "@echo off\n"
            "del A.dll\n"
            "copy .\\Temp\\LauncherUpdate\\A.dll A.dll\n"
            "del .\\Temp\\LauncherUpdate\\A.dll\n"
            "del B.dat\n"
            "copy .\\Temp\\LauncherUpdate\\B.dat B.dat\n"
            "del .\\Temp\\LauncherUpdate\\B.dat\n"
            "del .\\Config\\launcherconfig.txt\n"
            "copy .\\Temp\\launcherconfig.txt .\\Config\\launcherconfig.txt\n"
            "del .\\Temp\\launcherconfig.txt\n"
            ":begin\n"
            "del VORELLauncher.exe\n"
            "if exist VORELLauncher.exe goto begin\n"
            "copy .\\Temp\\LauncherUpdate\\VORELLauncher.exe VORELLauncher.exe\n"
            "del .\\Temp\\LauncherUpdate\\VORELLauncher.exe\n"
            "rd /q .\\Temp\\LauncherUpdate\n"
            "start VORELLauncher.exe\n"
            "del %0%\n");
}

#ifndef _WIN32
// On Windows the script starts and the process ends; Linux has no command interpreter for it,
// so the steps up to the start are checked here and the whole hand-over under Wine.
TEST_F(SelfUpdate, ScriptListsTopLevelFilesButTheLauncher) {
  std::wstring staging = install / L"Temp\\LauncherUpdate";
  testfiles::WriteFile(staging + L"\\VORELLauncher.exe", "new launcher");
  testfiles::WriteFile(staging + L"\\A.dll", "a");
  testfiles::WriteFile(staging + L"\\sub\\not-moved.dat", "s");
  EXPECT_FALSE(ApplyLauncherUpdate(patcher, install.path(), staging));
  std::string script = testfiles::ReadFile(install / L"updater.bat");
  EXPECT_EQ(script, BuildUpdaterScript({"A.dll"}));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_EQ(logged()[0].rfind("[ERROR] Start updater script failed! ErrorCode = ", 0), 0u);
}

TEST_F(SelfUpdate, OnlyTheLauncherGivesNoPerFileLines) {
  std::wstring staging = install / L"Temp\\LauncherUpdate";
  testfiles::WriteFile(staging + L"\\VORELLauncher.exe", "new launcher");
  EXPECT_FALSE(ApplyLauncherUpdate(patcher, install.path(), staging));
  EXPECT_EQ(testfiles::ReadFile(install / L"updater.bat"), BuildUpdaterScript({}));
}
#endif

TEST_F(SelfUpdate, ScriptThatCannotBeCreatedStartsNothing) {
  std::wstring staging = install / L"Temp\\LauncherUpdate";
  testfiles::WriteFile(staging + L"\\VORELLauncher.exe", "new launcher");
  InjectFault(FaultCall::OpenFile, 5, L"updater.bat");
  EXPECT_FALSE(ApplyLauncherUpdate(patcher, install.path(), staging));
  EXPECT_FALSE(testfiles::Exists(install / L"updater.bat"));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_EQ(logged()[0], "[ERROR] Create updater script failed! ErrorCode = 5");
}

TEST_F(SelfUpdate, MatchingPackageInTempIsReused) {
  Area mirror;
  std::string package = Archive("subfolders.zip");
  mirror.put("4.2.0/VORELLauncher_4.2.0.zip", package);
  PackageInfo p = info(package);
  testfiles::WriteFile(install / L"Temp\\VORELLauncher_4.2.0.zip", package);
  testfiles::WriteFile(install / L"Temp\\LauncherUpdate\\stale.txt", "from an older attempt");
  ASSERT_TRUE(FetchLauncherPackage(patcher, install.path(), {mirror.url("4.2.0/VORELLauncher_4.2.0.zip")}, p));
  EXPECT_EQ(mirror.requests("4.2.0/VORELLauncher_4.2.0.zip"), 0);
  EXPECT_EQ(patcher.stage, DownloadingFiles);
  EXPECT_EQ(patcher.statusText.get(), texts::UpdatingLauncher);
  EXPECT_EQ(testfiles::ReadFile(install / L"Temp\\LauncherUpdate\\root.txt"), "root");
  EXPECT_FALSE(testfiles::Exists(install / L"Temp\\LauncherUpdate\\stale.txt"));
}

TEST_F(SelfUpdate, WrongPackageIsDeletedAndTheNextAddressTried) {
  Area first, second;
  std::string package = Archive("subfolders.zip");
  first.put("p.zip", "a damaged download");
  second.put("p.zip", package);
  PackageInfo p = info(package);
  ASSERT_TRUE(FetchLauncherPackage(patcher, install.path(), {first.url("p.zip"), second.url("p.zip")}, p));
  EXPECT_EQ(first.requests("p.zip"), 1);
  EXPECT_EQ(second.requests("p.zip"), 1);
  auto lines = logged();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[INFO] Download launcher self-update files finish crc = ", 0), 0u);
  EXPECT_EQ(lines[1], "[INFO] Download launcher self-update files finish crc = " + p.crc);
  EXPECT_EQ(patcher.bytesTotal, static_cast<int64_t>(package.size()));
}

TEST_F(SelfUpdate, NoGoodPackageFailsWithTheCodes) {
  Area mirror;
  mirror.put("bad.zip", "damaged");
  PackageInfo p = info(Archive("subfolders.zip"));
  EXPECT_FALSE(FetchLauncherPackage(patcher, install.path(), {mirror.url("bad.zip"), mirror.url("absent.zip")}, p));
  EXPECT_EQ(patcher.stage, SelfUpdateFailed);
  EXPECT_EQ(patcher.statusText.get(), texts::LauncherUpdateFailed + L" CURLCODE(0) HTTP STATUES CODE(404)");
}

TEST_F(SelfUpdate, PackageThatDoesNotExtractFails) {
  std::string broken = Archive("bad_data.zip");
  PackageInfo p = info(broken);
  testfiles::WriteFile(install / L"Temp\\VORELLauncher_4.2.0.zip", broken);
  EXPECT_FALSE(FetchLauncherPackage(patcher, install.path(), {}, p));
  EXPECT_EQ(patcher.stage, DownloadingFiles);  // the update process sets the final stage
  std::wstring status = patcher.statusText;
  EXPECT_EQ(status.rfind(texts::LauncherUpdateFailed + L" LastError(", 0), 0u);
  auto lines = logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] Unzip failed! Unzip path : " +
                               WideToAnsi(install / L"Temp\\VORELLauncher_4.2.0.zip") + " Zip path : " +
                               WideToAnsi(install / L"Temp\\LauncherUpdate") + " ErrorCode = ",
                           0),
            0u)
      << lines[0];
}
