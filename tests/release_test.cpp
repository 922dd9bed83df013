// The parts of signed releases: SHA-256 beside the CRC, Ed25519 signatures, the manifest's text
// form and the record of the accepted release. Whole signed updates are scenarios.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/sha256.h"
#include "support/signature.h"
#include "support/test_files.h"
#include "support/text_util.h"
#include "update/release.h"
#include "update/verify.h"

TEST(FileCrc, KnownDigestsAndBothSumsOfWholeFilesFromOneRead) {
  EXPECT_EQ(Sha256::OfText(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256::OfText("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256::OfText(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  testfiles::TempDir dir;
  // Files are read in blocks of 256 KiB, from 8 MiB on by a second thread while the first sums;
  // the size comes with the sums, which are the same with and without the SHA-256.
  for (size_t size : {size_t(0), size_t(300000), size_t(9u << 20) + 7}) {
    std::string bytes = testfiles::RandomBytes(size, static_cast<uint32_t>(size));
    testfiles::WriteFile(dir / L"f", bytes);
    std::string sha;
    uint64_t measured = 77;
    EXPECT_EQ(FileCrc(dir / L"f", &measured, &sha), testfiles::CrcText(bytes));
    EXPECT_EQ(measured, size);
    EXPECT_EQ(sha, Sha256::OfText(bytes)) << size;
    EXPECT_EQ(FileCrc(dir / L"f"), testfiles::CrcText(bytes));
  }
  std::string sha = "stale";
  uint64_t measured = 77;
  EXPECT_EQ(FileCrc(dir / L"missing", &measured, &sha), "");
  EXPECT_EQ(sha, "");
  EXPECT_EQ(measured, 77u);  // left alone
  // The forged file the scenarios use keeps its CRC and changes its SHA-256.
  std::string original = testfiles::RandomBytes(1000, 9), forged = testfiles::ForgeSameCrc(original, "forged");
  EXPECT_EQ(testfiles::CrcText(forged), testfiles::CrcText(original));
  EXPECT_NE(Sha256::OfText(forged), Sha256::OfText(original));
}

TEST(Signature, OnlyTheKeysOwnSignatureOfTheExactTextVerifies) {
  std::string publicKey, secretKey, otherPublic, otherSecret;
  ASSERT_TRUE(MakeSigningKeys(publicKey, secretKey));
  ASSERT_TRUE(MakeSigningKeys(otherPublic, otherSecret));
  EXPECT_EQ(publicKey.size(), 64u);
  EXPECT_EQ(PublicKeyOf(secretKey), publicKey);
  const std::string text = "VORELRELEASE 1\nlauncherVersion=4.1.3\n";
  std::string signature = SignMessage(text, secretKey);
  EXPECT_TRUE(SignatureIsValid(text, signature, publicKey));
  std::string flipped = signature;
  flipped[10] = flipped[10] == '0' ? '1' : '0';
  struct Case {
    const char* what;
    std::string text, signature, key;
  } refused[] = {
      {"another text", text + "x", signature, publicKey},
      {"a text cut short", text.substr(0, text.size() - 1), signature, publicKey},
      {"another key", text, signature, otherPublic},
      {"a changed signature", text, flipped, publicKey},
      {"a signature cut short", text, signature.substr(0, 126), publicKey},
      {"not hex", text, std::string(128, 'g'), publicKey},
      {"no key", text, signature, ""},
      {"the secret key as the public one", text, signature, secretKey},
  };
  for (const Case& c : refused) EXPECT_FALSE(SignatureIsValid(c.text, c.signature, c.key)) << c.what;
  // A signature file may hold several; one for the key is enough, none is not.
  EXPECT_TRUE(SignedWithKey(text, flipped + "\n" + signature + "\n", publicKey));
  EXPECT_FALSE(SignedWithKey(text, flipped + "\n" + signature.substr(0, 126) + "\n", publicKey));
  EXPECT_EQ(SignMessage(text, "not a key"), "");
  EXPECT_EQ(PublicKeyOf(publicKey), "");
}

TEST(ReleaseManifest, ReadsBackWhatIsWrittenAndRefusesAnythingOutOfShape) {
  ReleaseManifest m;
  m.launcherVersion = ParseVersion("4.1.3"), m.zipVersion = ParseVersion("1.0.0"), m.incrementVersion = ParseVersion("1.0.3");
  m.issued = 1796688000, m.expires = m.issued + 30 * 86400;
  const std::string sha(64, 'a');
  m.texts = {{"filelist.txt", sha}, {"launcherconfig.txt", std::string(64, 'b')}};
  m.launcherPath = "VORELLauncher_4.1.3.zip";
  m.launcherPackage = {30000, sha};
  m.packages["pkg 1.zip"] = {5000000000ull, sha};  // sizes past 4 GiB, paths with blanks
  m.files["data/with space.txt"] = {1, std::string(64, 'c')};
  std::string text = FormatReleaseManifest(m);
  ReleaseManifest read;
  std::string problem;
  ASSERT_TRUE(ParseReleaseManifest(text, read, problem)) << problem;
  EXPECT_EQ(FormatReleaseManifest(read), text);
  EXPECT_EQ(read.packages.at("pkg 1.zip").size, 5000000000ull);
  EXPECT_EQ(read.files.at("data/with space.txt").sha256, std::string(64, 'c'));
  EXPECT_EQ(read.expires, m.expires);

  const std::string versions = "launcherVersion=4.1.3\nzipVersion=1.0.0\nincrementVersion=1.0.3\n";
  const std::string dates = "issued=2026-12-08T00:00:00Z\nexpires=2027-01-07T00:00:00Z\n";
  const std::string head = "VORELRELEASE 2\n" + versions + dates;
  const std::string launcher = "launcher 1 " + sha + " L.zip\n";
  // A manifest of the first form has no dates: it could be replayed for ever.
  const std::string broken[] = {"", "no line end", "VORELRELEASE 2\n", "VORELRELEASE 1\n" + versions + launcher,
                                "VORELRELEASE 2\n" + versions + launcher,
                                "VORELRELEASE 2\n" + versions + "issued=2026-12-08T00:00:00Z\n" + launcher,
                                "VORELRELEASE 2\n" + versions + "expires=2027-01-07T00:00:00Z\n" + launcher};
  for (const std::string& t : broken) EXPECT_FALSE(ParseReleaseManifest(t, read, problem)) << t;
  // Times: exactly one UTC form, real dates only, and an expiry after the issue.
  for (const char* bad : {"2026-12-08 00:00:00Z", "2026-12-08T00:00:00", "2026-13-01T00:00:00Z",
                          "2027-02-29T00:00:00Z", "2026-12-08T24:00:00Z", "1969-12-31T23:59:59Z", "+026-12-08T00:00:00Z"})
    EXPECT_FALSE(ParseReleaseManifest(ReplaceAll(head, "2026-12-08T00:00:00Z", bad) + launcher, read, problem)) << bad;
  EXPECT_FALSE(ParseReleaseManifest(ReplaceAll(head, "2027-01-07", "2026-12-08") + launcher, read, problem));
  int64_t seconds = 0;
  ASSERT_TRUE(ParseUtcTime("2028-02-29T23:59:59Z", seconds));
  EXPECT_EQ(seconds, 1835481599);
  EXPECT_EQ(FormatUtcTime(seconds), "2028-02-29T23:59:59Z");
  const std::string badLines[] = {
      "file 1 " + sha + "\n",                        // no path
      "file -1 " + sha + " a\n",                     // not a size
      "file 1 " + sha.substr(1) + " a\n",            // a short hash
      "file 1 " + std::string(64, 'A') + " a\n",     // upper case is not what the publisher writes
      "file 1 " + sha + " a\nfile 2 " + sha + " a\n",  // a path twice
      "folder 1 " + sha + " a\n",                    // unknown entry
      "launcher 1 " + sha + " M.zip\n",              // a second launcher package
      "\n",                                          // an empty line
  };
  for (const std::string& line : badLines)
    EXPECT_FALSE(ParseReleaseManifest(head + launcher + line, read, problem)) << line;
  EXPECT_FALSE(ParseReleaseManifest(head, read, problem));  // no launcher package
  EXPECT_FALSE(ParseReleaseManifest(ReplaceAll(head, "4.1.3", "4.1"), read, problem));
  EXPECT_FALSE(ParseReleaseManifest(ReplaceAll(head, "=4.1.3", "=04.1.3"), read, problem));
  EXPECT_TRUE(ParseReleaseManifest(head + launcher, read, problem)) << problem;
}

TEST(ReleaseManifest, TheAcceptedReleaseIsKeptAndOrdersByVersion) {
  testfiles::TempDir dir;
  AcceptedRelease record;
  EXPECT_FALSE(ReadAcceptedRelease(dir.path(), record));
  ReleaseManifest m;
  m.launcherVersion = ParseVersion("4.1.3"), m.incrementVersion = ParseVersion("1.10.0"), m.issued = 1796688000;
  ASSERT_TRUE(WriteAcceptedRelease(dir.path(), m));
  ASSERT_TRUE(ReadAcceptedRelease(dir.path(), record));
  EXPECT_EQ(FormatVersion(record.launcher) + " " + FormatVersion(record.game) + " " + std::to_string(record.issued),
            "4.1.3 1.10.0 1796688000");
  EXPECT_FALSE(testfiles::Exists(dir / L"Temp\\acceptedrelease.txt"));
  // A record written before manifests had dates keeps its versions.
  testfiles::WriteFile(dir / L"Config\\acceptedrelease.txt", "launcherVersion=4.1.3\nincrementVersion=1.0.0\n");
  ASSERT_TRUE(ReadAcceptedRelease(dir.path(), record));
  EXPECT_EQ(record.issued, 0);
  testfiles::WriteFile(dir / L"Config\\acceptedrelease.txt", "launcherVersion=4.1.3\n");  // cut short
  EXPECT_FALSE(ReadAcceptedRelease(dir.path(), record));
  // Release order, not text order; each component counts only when the ones before it tie. The
  // unsigned comparisons keep their component-wise reading.
  EXPECT_TRUE(VersionIsLower(ParseVersion("1.9.9"), ParseVersion("1.10.0")));
  EXPECT_TRUE(VersionIsLower(ParseVersion("1.10.0"), ParseVersion("2.0.0")));
  EXPECT_FALSE(VersionIsLower(ParseVersion("2.0.0"), ParseVersion("1.99.99")));
  EXPECT_FALSE(VersionIsLower(ParseVersion("1.0.3"), ParseVersion("1.0.3")));
  EXPECT_TRUE(LauncherIsOlder(ParseVersion("4.2.0"), ParseVersion("4.1.5")));
  EXPECT_FALSE(LauncherIsOlder(ParseVersion("4.2.0"), ParseVersion("4.1.5"), true));
  EXPECT_TRUE(LauncherIsOlder(ParseVersion("4.1.5"), ParseVersion("4.2.0"), true));
  ServerConfig remote;
  remote.incrementVersion = ParseVersion("2.0.1"), remote.zipVersion = ParseVersion("2.0.0"), remote.useZip = true;
  EXPECT_TRUE(GameNeedsZip(ParseVersion("1.5.0"), remote));
  EXPECT_FALSE(GameNeedsZip(ParseVersion("2.1.0"), remote, true));
}
