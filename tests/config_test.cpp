#include <gtest/gtest.h>

#include "app/names.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"
#include "update/config.h"

using testfiles::TempDir;
using Urls = std::vector<std::string>;

namespace {

struct ConfigFixture : ::testing::Test {
  TempDir dir;
  Logger logger;
  KeyedAlphabet alphabet{CipherKeyword};
  std::wstring logPath;

  void SetUp() override {
    logPath = dir / L"log.txt";
    logger.open(WideToAnsi(logPath));
  }
  std::wstring write(const std::wstring& name, const std::string& text) {
    testfiles::WriteFile(dir / name, text);
    return dir / name;
  }
};

}  // namespace

TEST(Config, VersionsParseFormatAndValidity) {
  EXPECT_EQ(FormatVersion(ParseVersion("1.2.3")), "1.2.3");
  EXPECT_EQ(FormatVersion(ParseVersion("1..2.3")), "1.2.3");
  EXPECT_EQ(FormatVersion(ParseVersion("1.x.3")), "1.0.3");
  EXPECT_EQ(FormatVersion(ParseVersion("1.2")), "-1.-1.-1");
  EXPECT_EQ(FormatVersion(ParseVersion("1.2.3.4")), "-1.-1.-1");
  EXPECT_EQ(FormatVersion(Version{}), "-1.-1.-1");
  EXPECT_TRUE(IsValidVersion(ParseVersion("1.0.0")));
  EXPECT_FALSE(IsValidVersion(ParseVersion("0.9.9")));
  EXPECT_FALSE(IsValidVersion(ParseVersion("1.-1.0")));
}

TEST(Config, VersionRulesCompareComponentByComponent) {
  // Each component on its own: 2.0.0 counts as older than 1.5.0.
  EXPECT_TRUE(LauncherIsOlder(ParseVersion("2.0.0"), ParseVersion("1.5.0")));
  EXPECT_FALSE(LauncherIsOlder(ParseVersion("1.5.0"), ParseVersion("1.5.0")));
  EXPECT_TRUE(LauncherIsOlder(Version{}, Version{}));
  EXPECT_FALSE(LauncherIsOlder(ParseVersion("1.5.0"), Version{}));  // an unparsed remote never wins

  ServerConfig remote;
  remote.incrementVersion = ParseVersion("1.2.5");
  remote.zipVersion = ParseVersion("1.2.0");
  remote.useZip = true;
  EXPECT_TRUE(GameNeedsZip(ParseVersion("0.9.9"), remote));  // not a valid version
  EXPECT_FALSE(GameNeedsZip(ParseVersion("1.2.5"), remote));
  EXPECT_TRUE(GameNeedsZip(ParseVersion("1.1.9"), remote));
  EXPECT_FALSE(GameNeedsZip(ParseVersion("1.2.3"), remote));
  remote.useZip = false;
  EXPECT_FALSE(GameNeedsZip(ParseVersion("1.1.9"), remote));
  EXPECT_TRUE(GameNeedsZip(Version{}, remote));
}

TEST(Config, KeyedAlphabetDescramblesLettersOnly) {
  KeyedAlphabet alphabet(CipherKeyword);
  // Keyed alphabet MORVANTELISHKDUBCFGJPQWXYZ: h->e, t->j, p->b, w->w, e->a, b->o.
  EXPECT_EQ(alphabet.descramble("ejjb://wao.x:80/b$1.2.3"), "http://web.x:80/p$1.2.3");
  EXPECT_EQ(alphabet.descramble("EJJB"), "HTTP");
  EXPECT_EQ(alphabet.descramble("\xC3\xA9-_~ 09"), "\xC3\xA9-_~ 09");
  // Repeats, spaces and lower-case letters of the keyword add nothing.
  KeyedAlphabet trimmed("MORVANTELISHKDU");
  KeyedAlphabet noisy("MO rv RVANTELISHKDU");
  const std::string all = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  EXPECT_EQ(alphabet.descramble(all), trimmed.descramble(all));
  EXPECT_EQ(alphabet.descramble(all), noisy.descramble(all));
  EXPECT_EQ(alphabet.descramble(alphabet.scramble(all)), all);
  EXPECT_EQ(KeyedAlphabet("").descramble(all), all);
}

TEST(Config, HttpsIsRewrittenEverywhere) {
  Urls urls{"https://h.example/https/a", "ftp://x/", "HTTPS://keep"};
  RewriteHttps(urls);
  EXPECT_EQ(urls, (Urls{"http://h.example/http/a", "ftp://x/", "HTTPS://keep"}));
}

TEST(Config, PackageTextNeedsFourPieces) {
  PackageInfo info = ParsePackageText("4.1.2/launcher.zip$100$50$abcd1234");
  EXPECT_EQ(info.path, "4.1.2/launcher.zip");
  EXPECT_EQ(info.unpackedSize, 100);
  EXPECT_EQ(info.size, 50);
  EXPECT_EQ(info.crc, "abcd1234");  // not upper-cased
  PackageInfo three = ParsePackageText("a$1$2");
  EXPECT_EQ(three.path, "");
  EXPECT_EQ(three.size, -1);
  EXPECT_EQ(three.unpackedSize, -1);
}

TEST_F(ConfigFixture, PlainServerConfigIsTakenAsWritten) {
  auto path = write(L"s.txt",
                    "incrementVersion = 1.2.5\r\n"
                    "zipVersion=1.2.0\r\n"
                    "useZip=True \r\n"
                    "filelistURLs=http://a/$http://b/\r\n"
                    "ziplistURLs=ejjb://wao/\r\n"  // looks scrambled, but the file is plain
                    "zipupdateURLs=$$http://z/$\r\n"
                    "incrementupdateURLs=https://i/\r\n"
                    "usePackage=True\r\n");
  ServerConfig config;
  ASSERT_TRUE(ParseServerConfig(path, config, false, alphabet, logger));
  EXPECT_EQ(FormatVersion(config.incrementVersion), "1.2.5");
  EXPECT_EQ(FormatVersion(config.zipVersion), "1.2.0");
  EXPECT_TRUE(config.useZip);
  EXPECT_FALSE(config.usePackage);  // only the local copy sets it
  EXPECT_EQ(config.filelistURLs, (Urls{"http://a/", "http://b/"}));
  EXPECT_EQ(config.ziplistURLs, Urls{"ejjb://wao/"});
  EXPECT_EQ(config.zipupdateURLs, Urls{"http://z/"});
  EXPECT_EQ(config.incrementupdateURLs, Urls{"https://i/"});
}

TEST_F(ConfigFixture, ScrambledServerConfigIsDescrambled) {
  KeyedAlphabet& a = alphabet;
  auto path = write(L"s.txt", "incrementVersion=1.2.5\nzipVersion=1.2.0\n"
                              "useZip=" + a.scramble("True") + "\n"
                              "filelistURLs=" + a.scramble("HTTP://Files.example/list/") + "\n"
                              "ziplistURLs=" + a.scramble("http://zips.example/") + "\n"
                              "zipupdateURLs=" + a.scramble("http://p1/$http://p2/") + "\n"
                              "incrementupdateURLs=" + a.scramble("ftp://inc/") + "\n");
  ServerConfig config;
  ASSERT_TRUE(ParseServerConfig(path, config, false, alphabet, logger));
  EXPECT_TRUE(config.useZip);
  EXPECT_EQ(config.filelistURLs, Urls{"HTTP://Files.example/list/"});
  EXPECT_EQ(config.ziplistURLs, Urls{"http://zips.example/"});
  EXPECT_EQ(config.zipupdateURLs, (Urls{"http://p1/", "http://p2/"}));
  EXPECT_EQ(config.incrementupdateURLs, Urls{"ftp://inc/"});

  // "HTTP:" as written (upper case) is not one of the plain schemes: the file counts as scrambled.
  auto upper = write(L"u.txt", "filelistURLs=HTTP://x/\nuseZip=True\n");
  ServerConfig second;
  ASSERT_TRUE(ParseServerConfig(upper, second, false, alphabet, logger));
  EXPECT_EQ(second.filelistURLs, Urls{alphabet.descramble("HTTP://x/")});
  EXPECT_FALSE(second.useZip);  // "True" descrambled is no longer "True"
}

TEST_F(ConfigFixture, UseZipNeedsExactlyTrue) {
  auto withComment = write(L"c.txt", "filelistURLs=http://a/\nuseZip=True # note\n");
  ServerConfig config;
  ASSERT_TRUE(ParseServerConfig(withComment, config, false, alphabet, logger));
  EXPECT_FALSE(config.useZip);  // the value keeps the blank before the comment
  auto lower = write(L"l.txt", "filelistURLs=http://a/\nuseZip=true\n");
  ASSERT_TRUE(ParseServerConfig(lower, config, false, alphabet, logger));
  EXPECT_FALSE(config.useZip);
}

TEST_F(ConfigFixture, LocalCopySetsVersionsAndUsePackageOnly) {
  auto path = write(L"local.txt", "incrementVersion=1.2.3\nzipVersion=1.2.0\nusePackage=True\n");
  ServerConfig config;
  config.filelistURLs = {"kept"};
  EXPECT_FALSE(ParseServerConfig(path, config, true, alphabet, logger));  // no filelistURLs line
  EXPECT_EQ(FormatVersion(config.incrementVersion), "1.2.3");
  EXPECT_TRUE(config.usePackage);
  EXPECT_EQ(config.filelistURLs, Urls{"kept"});

  ServerConfig missing;
  missing.usePackage = true;
  missing.incrementVersion = ParseVersion("5.5.5");
  EXPECT_FALSE(ParseServerConfig(dir / L"absent.txt", missing, true, alphabet, logger));
  EXPECT_EQ(FormatVersion(missing.incrementVersion), "-1.-1.-1");
  EXPECT_FALSE(missing.usePackage);
}

TEST_F(ConfigFixture, LauncherConfigCases) {
  auto plain = write(L"l1.txt", "launcherVersion=4.1.3\nremoteURLs=http://a/$http://b/\n"
                                "launcherZipInfo=4.1.3/VORELLauncher.zip$2048$1024$0A1B2C3D\n");
  LauncherConfig config;
  ASSERT_TRUE(ParseLauncherConfig(plain, config, alphabet, logger));
  EXPECT_EQ(FormatVersion(config.launcherVersion), "4.1.3");
  EXPECT_EQ(config.remoteURLs, (Urls{"http://a/", "http://b/"}));
  EXPECT_EQ(config.launcherZipInfo.size, 1024);
  EXPECT_EQ(config.launcherZipInfo.crc, "0A1B2C3D");

  auto scrambled = write(L"l2.txt", "launcherVersion=4.2.0\nremoteURLs=" + alphabet.scramble("http://m/") +
                                        "\nlauncherZipInfo=" + alphabet.scramble("pkg/new.zip$9$8$ABCDEF01") + "\n");
  ASSERT_TRUE(ParseLauncherConfig(scrambled, config, alphabet, logger));
  EXPECT_EQ(config.remoteURLs, Urls{"http://m/"});
  EXPECT_EQ(config.launcherZipInfo.path, "pkg/new.zip");
  EXPECT_EQ(config.launcherZipInfo.crc, "ABCDEF01");

  // "$" alone is a value: the parse succeeds with an empty list.
  auto dollar = write(L"l3.txt", "launcherVersion=4.2.1\nremoteURLs=$\nlauncherZipInfo=a$1$2\n");
  ASSERT_TRUE(ParseLauncherConfig(dollar, config, alphabet, logger));
  EXPECT_TRUE(config.remoteURLs.empty());
  EXPECT_EQ(config.launcherZipInfo.path, "");
  EXPECT_EQ(config.launcherZipInfo.size, -1);

  // No remoteURLs: false and the record is left as it was.
  auto none = write(L"l4.txt", "launcherVersion=9.9.9\n");
  EXPECT_FALSE(ParseLauncherConfig(none, config, alphabet, logger));
  EXPECT_EQ(FormatVersion(config.launcherVersion), "4.2.1");
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
  auto lines = testfiles::LogLines(logPath);
  std::string where = WideToAnsi(bad);
  EXPECT_EQ(lines[1], "[ERROR] Process launcherconfig error! " + where + "no '=' found on line #3");
  EXPECT_EQ(lines[2], "[ERROR] Process serverConfig error! " + where + "no '=' found on line #3");
}

TEST_F(ConfigFixture, LocalServerConfigIsWrittenAndRewrittenByteForByte) {
  ASSERT_TRUE(WriteLocalServerConfig(dir.path(), ParseVersion("1.2.0"), ParseVersion("1.2.3"), false));
  std::wstring path = dir / L"Config\\serverconfig.txt";
  EXPECT_EQ(testfiles::ReadFile(path), "incrementVersion=1.2.3\nzipVersion=1.2.0\nusePackage=False\n");

  testfiles::WriteFile(path, "incrementVersion=1.2.3\n\nusePackage=True\r\nusePackage = x\n===\nother=1");
  SetLocalServerConfigValue(dir.path(), "usePackage", "False");
  EXPECT_EQ(testfiles::ReadFile(path),
            "incrementVersion=1.2.3\r\nusePackage=False\r\nusePackage = x\r\nother=1\r\n");
  // A key that no line holds is not added; a missing file is not created.
  SetLocalServerConfigValue(dir.path(), "absent", "1");
  EXPECT_EQ(testfiles::ReadFile(path).find("absent"), std::string::npos);
  TempDir empty;
  SetLocalServerConfigValue(empty.path(), "usePackage", "False");
  EXPECT_FALSE(testfiles::Exists(empty / L"Config\\serverconfig.txt"));
}
