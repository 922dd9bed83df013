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

  const std::string head = "VORELRELEASE 1\nlauncherVersion=4.1.3\nzipVersion=1.0.0\nincrementVersion=1.0.3\n";
  const std::string launcher = "launcher 1 " + sha + " L.zip\n";
  const char* const broken[] = {"", "no line end", "VORELRELEASE 2\n"};
  for (const char* t : broken) EXPECT_FALSE(ParseReleaseManifest(t, read, problem)) << t;
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
  Version launcher, game;
  EXPECT_FALSE(ReadAcceptedRelease(dir.path(), launcher, game));
  ReleaseManifest m;
  m.launcherVersion = ParseVersion("4.1.3"), m.incrementVersion = ParseVersion("1.10.0");
  ASSERT_TRUE(WriteAcceptedRelease(dir.path(), m));
  ASSERT_TRUE(ReadAcceptedRelease(dir.path(), launcher, game));
  EXPECT_EQ(FormatVersion(launcher) + " " + FormatVersion(game), "4.1.3 1.10.0");
  EXPECT_FALSE(testfiles::Exists(dir / L"Temp\\acceptedrelease.txt"));
  // Release order, not text order; each component counts only when the ones before it tie.
  EXPECT_TRUE(VersionIsLower(ParseVersion("1.9.9"), ParseVersion("1.10.0")));
  EXPECT_TRUE(VersionIsLower(ParseVersion("1.10.0"), ParseVersion("2.0.0")));
  EXPECT_FALSE(VersionIsLower(ParseVersion("2.0.0"), ParseVersion("1.99.99")));
  EXPECT_FALSE(VersionIsLower(ParseVersion("1.0.3"), ParseVersion("1.0.3")));
  testfiles::WriteFile(dir / L"Config\\acceptedrelease.txt", "launcherVersion=4.1.3\n");  // cut short
  EXPECT_FALSE(ReadAcceptedRelease(dir.path(), launcher, game));
}
