#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "engine_fixture.h"
#include "platform/files.h"
#include "support/names.h"
#include "update/config.h"

using testfiles::TempDir;
using Urls = std::vector<std::string>;

namespace {

// The engine's logger and cipher alphabet, as the update run hands them to the parsers.
struct ConfigFixture : EngineTest {
  Logger& logger = patcher.logger;
  KeyedAlphabet& alphabet = patcher.alphabet;
  std::wstring write(const std::wstring& name, const std::string& text) {
    testfiles::WriteFile(dir / name, text);
    return dir / name;
  }
};

std::string Versions(const ServerConfig& c) {
  return FormatVersion(c.incrementVersion) + " " + FormatVersion(c.zipVersion);
}

}  // namespace

TEST(Config, VersionsAndTheirRules) {
  for (auto [text, formatted] : {std::pair{"1..2.3", "1.2.3"}, {"1.x.3", "1.0.3"}, {"1.2", "-1.-1.-1"}})
    EXPECT_EQ(FormatVersion(ParseVersion(text)), formatted) << text;

  // Each component on its own: 2.0.0 counts as older than 1.5.0.
  EXPECT_TRUE(LauncherIsOlder(ParseVersion("2.0.0"), ParseVersion("1.5.0")));
  EXPECT_FALSE(LauncherIsOlder(ParseVersion("1.5.0"), ParseVersion("1.5.0")));
  EXPECT_FALSE(LauncherIsOlder(ParseVersion("1.5.0"), Version{}));  // an unparsed remote never wins

  ServerConfig remote;
  remote.incrementVersion = ParseVersion("1.2.5");
  remote.zipVersion = ParseVersion("1.2.0");
  remote.useZip = true;
  // 0.9.9 is no valid version; only a game older than the zip version needs the packages.
  for (auto [local, needs] : {std::pair{"0.9.9", true}, {"1.1.9", true}, {"1.2.5", false}, {"1.2.3", false}})
    EXPECT_EQ(GameNeedsZip(ParseVersion(local), remote), needs) << local;
  remote.useZip = false;
  EXPECT_FALSE(GameNeedsZip(ParseVersion("1.1.9"), remote));
}

// Pinned letter for letter: the launcher's keyword gives the keyed alphabet MORVANTELISHKDU and
// then the letters it does not use, in order; scrambling writes the keyed letter for the plain one.
TEST(Config, KeyedAlphabetBothWaysAndHttpsRewrite) {
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz";
  struct Row {
    std::string keyword, plain, scrambled;
  };
  const Row rows[] = {
      {CipherKeyword, letters, "MORVANTELISHKDUBCFGJPQWXYZ morvantelishkdubcfgjpqwxyz"},
      {CipherKeyword, "http://127.0.0.1:8080/a$ftp://b/", "ejjb://127.0.0.1:8080/m$njb://o/"},
      {CipherKeyword, "True", "Jfpa"},
      // Bytes from 128 on pass unchanged, also those that are a letter plus 128 (0xC1, 0xE1).
      {CipherKeyword, "Zip\xC1\xE1\xDA\xFA\x80\xFF", "Zlb\xC1\xE1\xDA\xFA\x80\xFF"},
      // Blanks are skipped; lower-case letters and repeated letters take no place.
      {"kEy  EEK yes", letters, "EKABCDFGHIJLMNOPQRSTUVWXYZ ekabcdfghijlmnopqrstuvwxyz"},
      {"KEY WORD KEY", letters, "KEYWORDABCFGHIJLMNPQSTUVXZ keywordabcfghijlmnpqstuvxz"},
      {" ab-12 ", "The Fox", "The Fox"},  // no upper-case letter: the plain alphabet
  };
  for (const Row& row : rows) {
    KeyedAlphabet alphabet(row.keyword);
    EXPECT_EQ(alphabet.descramble(row.scrambled), row.plain) << row.keyword;
    EXPECT_EQ(alphabet.scramble(row.plain), row.scrambled) << row.keyword;
  }

  Urls urls{"https://h.example/https/a", "ftp://x/"};
  RewriteHttps(urls);
  EXPECT_EQ(urls, (Urls{"http://h.example/http/a", "ftp://x/"}));
}

TEST_F(ConfigFixture, ServerConfigPlainOrScrambled) {
  auto plain = write(L"p.txt",
                     "incrementVersion = 1.2.5\r\n"
                     "zipVersion=1.2.0\r\n"
                     "useZip=True \r\n"
                     "filelistURLs=http://a/$http://b/\r\n"
                     "ziplistURLs=ejjb://wao/\r\n"  // looks scrambled, but the file is plain
                     "usePackage=True\r\n");
  ServerConfig config;
  ASSERT_TRUE(ParseServerConfig(plain, config, false, alphabet, logger));
  EXPECT_EQ(Versions(config), "1.2.5 1.2.0");
  EXPECT_TRUE(config.useZip);
  EXPECT_FALSE(config.usePackage);  // only the local copy sets it
  EXPECT_EQ(config.filelistURLs, (Urls{"http://a/", "http://b/"}));
  EXPECT_EQ(config.ziplistURLs, Urls{"ejjb://wao/"});

  // The value keeps the blank before a comment, so it is no longer exactly "True".
  auto comment = write(L"c.txt", "filelistURLs=http://a/\nuseZip=True # note\n");
  ASSERT_TRUE(ParseServerConfig(comment, config, false, alphabet, logger));
  EXPECT_FALSE(config.useZip);

  // "HTTP:" as written (upper case) is not one of the plain schemes: the file counts as scrambled.
  auto scrambled = write(L"s.txt", "filelistURLs=HTTP://x/\nuseZip=Jfpa\nzipupdateURLs=ejjb://b1/$ejjb://b2/\n");
  ASSERT_TRUE(ParseServerConfig(scrambled, config, false, alphabet, logger));
  EXPECT_EQ(config.filelistURLs, Urls{"LGGU://x/"});
  EXPECT_TRUE(config.useZip);
  EXPECT_EQ(config.zipupdateURLs, (Urls{"http://p1/", "http://p2/"}));
}

TEST_F(ConfigFixture, LauncherConfigCases) {
  auto plain = write(L"l1.txt", "launcherVersion=4.1.3\nremoteURLs=http://a/$http://b/\n"
                                "launcherZipInfo=4.1.3/VORELLauncher.zip$2048$1024$0A1B2C3D\n");
  LauncherConfig config;
  ASSERT_TRUE(ParseLauncherConfig(plain, config, alphabet, logger));
  EXPECT_EQ(FormatVersion(config.launcherVersion), "4.1.3");
  EXPECT_EQ(config.remoteURLs, (Urls{"http://a/", "http://b/"}));
  EXPECT_EQ(config.launcherZipInfo.size, 1024);

  // Scrambled, all three values are descrambled, the package's CRC letters too.
  auto scrambled = write(L"l3.txt", "launcherVersion=4.1.4\nremoteURLs=ejjb://m/\n"
                                    "launcherZipInfo=QUFAHHmpdreaf_2.1.0.zlb$4096$1024$0M1O2R3V\n");
  ASSERT_TRUE(ParseLauncherConfig(scrambled, config, alphabet, logger));
  EXPECT_EQ(FormatVersion(config.launcherVersion), "4.1.4");
  EXPECT_EQ(config.remoteURLs, Urls{"http://a/"});
  EXPECT_EQ(config.launcherZipInfo.path + " " + config.launcherZipInfo.crc, "VORELLauncher_2.1.0.zip 0A1B2C3D");

  // "$" alone is a value: the parse succeeds with an empty list. Three pieces are no package.
  auto dollar = write(L"l2.txt", "launcherVersion=4.2.1\nremoteURLs=$\nlauncherZipInfo=a$1$2\n");
  ASSERT_TRUE(ParseLauncherConfig(dollar, config, alphabet, logger));
  EXPECT_TRUE(config.remoteURLs.empty());
  EXPECT_EQ(config.launcherZipInfo.path, "");
  EXPECT_EQ(config.launcherZipInfo.size, -1);
  EXPECT_EQ(config.launcherZipInfo.unpackedSize, -1);
  // The package is written below Temp: a path that climbs out counts as a wrong shape.
  for (const char* text : {"../../VORELLauncher.exe$1$2$ABCDEF01", "C:\\x.zip$1$2$ABCDEF01"}) {
    EXPECT_EQ(ParsePackageText(text).path, "") << text;
    EXPECT_EQ(ParsePackageText(text).size, -1) << text;
  }
}

TEST_F(ConfigFixture, SyntaxErrorsAreLoggedWithPathAndMessage) {
  auto bad = write(L"bad.txt", "launcherVersion=1.0.0\n\nbroken line\n");
  LauncherConfig launcher;
  launcher.launcherVersion = ParseVersion("3.3.3");
  EXPECT_FALSE(ParseLauncherConfig(bad, launcher, alphabet, logger));
  EXPECT_EQ(FormatVersion(launcher.launcherVersion), "3.3.3");
  ServerConfig server;
  server.incrementVersion = ParseVersion("2.2.2");
  EXPECT_FALSE(ParseServerConfig(bad, server, false, alphabet, logger));
  EXPECT_EQ(FormatVersion(server.incrementVersion), "2.2.2");
  std::string where = WideToAnsi(bad);
  EXPECT_EQ(logged(), (std::vector<std::string>{"[ERROR] Process launcherconfig error! " + where + "no '=' found on line #3",
                                                "[ERROR] Process serverConfig error! " + where + "no '=' found on line #3"}));
}

TEST_F(ConfigFixture, LocalServerConfigIsWrittenReadAndRewritten) {
  ASSERT_TRUE(WriteLocalServerConfig(dir.path(), ParseVersion("1.2.0"), ParseVersion("1.2.3"), true));
  std::wstring path = dir / L"Config\\serverconfig.txt";
  EXPECT_EQ(testfiles::ReadFile(path), "incrementVersion=1.2.3\nzipVersion=1.2.0\nusePackage=True\n");
  // The local copy sets the versions and usePackage only.
  ServerConfig config;
  config.filelistURLs = {"kept"};
  EXPECT_FALSE(ParseServerConfig(path, config, true, alphabet, logger));  // no filelistURLs line
  EXPECT_EQ(Versions(config), "1.2.3 1.2.0");
  EXPECT_TRUE(config.usePackage);
  EXPECT_EQ(config.filelistURLs, Urls{"kept"});
  EXPECT_FALSE(ParseServerConfig(dir / L"absent.txt", config, true, alphabet, logger));
  EXPECT_EQ(Versions(config), "-1.-1.-1 -1.-1.-1");
  EXPECT_FALSE(config.usePackage);

  testfiles::WriteFile(path, "incrementVersion=1.2.3\n\nusePackage=True\r\nusePackage = x\n===\nother=1");
  SetLocalServerConfigValue(dir.path(), "usePackage", "False");
  SetLocalServerConfigValue(dir.path(), "absent", "1");  // no line holds it: not added
  EXPECT_EQ(testfiles::ReadFile(path),
            "incrementVersion=1.2.3\r\nusePackage=False\r\nusePackage = x\r\nother=1\r\n");
  TempDir empty;
  EXPECT_TRUE(SetLocalServerConfigValue(empty.path(), "usePackage", "False"));
  EXPECT_FALSE(testfiles::Exists(empty / L"Config\\serverconfig.txt"));
#ifndef _WIN32
  // A full disk: the few bytes sit in stdio's buffer until the close, which must report it.
  ASSERT_TRUE(RemoveFile(path));
  ASSERT_EQ(symlink("/dev/full", NarrowFileSystemPath(path).c_str()), 0);
  EXPECT_FALSE(WriteLocalServerConfig(dir.path(), ParseVersion("1.2.0"), ParseVersion("1.2.3"), true));
#endif
}
