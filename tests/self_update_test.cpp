#include <gmock/gmock.h>

#include "engine_fixture.h"
#include "support/test_server.h"
#include "support/texts.h"
#include "update/file_list.h"
#include "update/self_update.h"

using testserver::Area;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

std::string Archive(const std::string& name) {
  return testfiles::ReadFile(testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/" + name));
}

struct SelfUpdate : EngineTest {
  std::wstring staging = dir / L"Temp\\LauncherUpdate";
  static PackageInfo info(const std::string& data) {
    return {"VORELLauncher_4.2.0.zip", -1, static_cast<int64_t>(data.size()), testfiles::CrcText(data), ""};
  }
};

}  // namespace

TEST(UpdaterScript, BytesForTwoFiles) {
  EXPECT_EQ(BuildUpdaterScript({"A.dll", "B c.dat"}),
            "@echo off\n"
            "copy /y \"Temp\\LauncherUpdate\\A.dll\" \"A.dll.new\"\n"
            "move /y \"A.dll.new\" \"A.dll\"\n"
            "del \"Temp\\LauncherUpdate\\A.dll\"\n"
            "copy /y \"Temp\\LauncherUpdate\\B c.dat\" \"B c.dat.new\"\n"
            "move /y \"B c.dat.new\" \"B c.dat\"\n"
            "del \"Temp\\LauncherUpdate\\B c.dat\"\n"
            "copy /y \"Temp\\LauncherUpdate\\VORELLauncher.exe\" \"VORELLauncher.exe.new\"\n"
            ":begin\n"
            "move /y \"VORELLauncher.exe.new\" \"VORELLauncher.exe\"\n"
            "if exist \"VORELLauncher.exe.new\" goto begin\n"
            "del \"Temp\\LauncherUpdate\\VORELLauncher.exe\"\n"
            "copy /y \"Temp\\launcherconfig.txt\" \"Config\\launcherconfig.txt.new\"\n"
            ":config\n"
            "move /y \"Config\\launcherconfig.txt.new\" \"Config\\launcherconfig.txt\"\n"
            "if exist \"Config\\launcherconfig.txt.new\" goto config\n"
            "del \"Temp\\launcherconfig.txt\"\n"
            "rd /q \"Temp\\LauncherUpdate\"\n"
            "start \"\" \"VORELLauncher.exe\"\n"
            "del \"%~f0\"\n");
}

TEST(UpdaterScript, NamesCmdWouldMisreadAreRefused) {
  for (const char* name : {"a%PATH%.dll", "a\"b.dll", "a^b", "a&b", "a|b", "a<b", "a>b", "a!b", "tab\t.dll", "a*.dll",
                           "why?.dll", "\xE1.dll", "sub\\a.dll", "nul.dll", "a.dll.", ""})
    EXPECT_NE(ScriptNameProblem(name), "") << name;
  for (const char* name : {"A.dll", "B c.dat", "x(1),y;z=w.txt", "-a.dll"}) EXPECT_EQ(ScriptNameProblem(name), "") << name;
}

TEST_F(SelfUpdate, ScriptThatCannotBeCreatedStartsNothing) {
  testfiles::WriteFile(staging + L"\\VORELLauncher.exe", "new launcher");
  InjectFault(FaultCall::OpenFile, 5, L"updater.bat");
  EXPECT_FALSE(ApplyLauncherUpdate(patcher, dir.path(), staging));
  EXPECT_FALSE(testfiles::Exists(dir / L"updater.bat"));
  EXPECT_EQ(logged(), std::vector<std::string>{"[ERROR] Create updater script failed! ErrorCode = 5"});
}

TEST_F(SelfUpdate, WrongPackagesAreReplacedMatchingOnesReused) {
  Area mirror;
  std::string package = Archive("subfolders.zip");
  mirror.put("bad.zip", "a damaged download");
  mirror.put("good.zip", package);
  PackageInfo p = info(package);
  EXPECT_FALSE(FetchLauncherPackage(patcher, dir.path(), {mirror.url("bad.zip"), mirror.url("absent.zip")}, p));
  EXPECT_EQ(patcher.stage, SelfUpdateFailed);
  EXPECT_EQ(patcher.statusText.get(), texts::LauncherUpdateFailed + L" CURLCODE(0) HTTP STATUES CODE(404)");

  ASSERT_TRUE(FetchLauncherPackage(patcher, dir.path(), {mirror.url("bad.zip"), mirror.url("good.zip")}, p));
  EXPECT_EQ(mirror.requests("bad.zip"), 2);  // tried again in the second call, then the next address
  const std::string finished = "[INFO] Download launcher self-update files finish crc = ";
  auto lines = logged();
  EXPECT_EQ(lines.front(), finished + testfiles::CrcText("a damaged download"));
  EXPECT_EQ(lines.back(), finished + p.crc);

  // A matching package in Temp is unpacked again without a transfer, into an emptied folder.
  testfiles::WriteFile(dir / L"Temp\\VORELLauncher_4.2.0.zip", package);
  testfiles::WriteFile(staging + L"\\stale.txt", "from an older attempt");
  ASSERT_TRUE(FetchLauncherPackage(patcher, dir.path(), {mirror.url("good.zip")}, p));
  EXPECT_EQ(mirror.requests("good.zip"), 1);
  EXPECT_EQ(testfiles::ReadFile(staging + L"\\root.txt"), "root");
  EXPECT_FALSE(testfiles::Exists(staging + L"\\stale.txt"));
}

TEST_F(SelfUpdate, PackageThatDoesNotExtractFails) {
  std::string broken = Archive("bad_data.zip");
  std::wstring zip = dir / L"Temp\\VORELLauncher_4.2.0.zip";
  testfiles::WriteFile(zip, broken);
  EXPECT_FALSE(FetchLauncherPackage(patcher, dir.path(), {}, info(broken)));
  EXPECT_THAT(patcher.statusText.get(), StartsWith(texts::LauncherUpdateFailed + L" LastError("));
  EXPECT_THAT(logged(), ElementsAre(StartsWith("[ERROR] Unzip failed! Unzip path : " + WideToAnsi(zip) +
                                               " Zip path : " + WideToAnsi(staging) + " ErrorCode = ")));
}

TEST_F(SelfUpdate, PackageWithANameTheScriptCannotCarryFailsBeforeAnyScript) {
  std::string package = Archive("launcher_ampersand.zip");
  testfiles::WriteFile(dir / L"Temp\\VORELLauncher_4.2.0.zip", package);
  EXPECT_FALSE(FetchLauncherPackage(patcher, dir.path(), {}, info(package)));
  EXPECT_EQ(patcher.stage, SelfUpdateFailed);
  EXPECT_EQ(patcher.statusText.get(), texts::LauncherUpdateFailed);
  EXPECT_THAT(logged(), ElementsAre(StartsWith("[ERROR] Launcher package holds a file the updater script cannot "
                                               "name! \"a&b.dll\": cmd.exe reads \"&\"")));
  EXPECT_FALSE(ApplyLauncherUpdate(patcher, dir.path(), staging));
  EXPECT_FALSE(testfiles::Exists(dir / L"updater.bat"));
}
