#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>

#include "net/http_transfer.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "engine_fixture.h"
#include "support/sha256.h"
#include "support/test_files.h"
#include "support/texts.h"
#include "update/patcher.h"
#include "update/verify.h"

using testfiles::TempDir;

namespace {

// A listed file, what stands on disk (nothing when null) and whether it must be downloaded.
struct Case { std::string path, listed; const char* onDisk; bool needs; };

template <typename Entry>
std::vector<Entry> Prepare(const std::wstring& dir, const std::vector<Case>& cases) {
  std::vector<Entry> entries;
  for (const Case& c : cases) {
    entries.push_back(Listed<Entry>(c.path, c.listed));
    if (c.onDisk) testfiles::WriteFile(dir + L"\\" + AnsiToWide(c.path), c.onDisk);
  }
  return entries;
}

}  // namespace

TEST(CheckLocalFiles, SizesBeyond4GiBAreComparedIn64Bits) {
  TempDir dir;
  FILE* file = OpenFile(dir / L"sparse.bin", L"wb");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(SeekFile(file, (int64_t(1) << 32) + 4, SEEK_SET));
  fputc('x', file);
  fclose(file);
  // Listed with the low 32 bits of its size (5) and its true CRC (2^32 + 4 zero bytes, then
  // "x"; combined without reading them): only a 64-bit size comparison tells it apart.
  uLong zeros = crc32(0, reinterpret_cast<const Bytef*>("\0\0\0\0"), 4), crc = zeros;
  for (long length = 4; length < (1L << 30); length *= 2) zeros = crc32_combine(zeros, zeros, length);
  for (int i = 0; i < 4; ++i) crc = crc32_combine(crc, zeros, 1L << 30);
  crc = crc32_combine(crc, crc32(0, reinterpret_cast<const Bytef*>("x"), 1), 1);
  auto entries = Prepare<FileListEntry>(dir.path(), {{"sparse.bin", "12345", nullptr, true}});
  char text[9];
  snprintf(text, sizeof text, "%08lX", crc);
  entries[0].crc = text;
  Patcher patcher;
  CheckLocalFiles(patcher, dir.path(), entries);
  EXPECT_TRUE(entries[0].needsDownload);
}

// Large files are read by two threads, in halves, unless a SHA-256 goes with the CRC.
TEST(FileCrc, LargeFilesInHalvesOrInOneGo) {
  TempDir dir;
  const std::string data = testfiles::RandomBytes((8 << 20) + (256 << 10) * 3 + 5, 9);
  testfiles::WriteFile(dir / L"large.bin", data);
  char expected[9];
  snprintf(expected, sizeof expected, "%08lX",
           crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  uint64_t size = 0;
  std::string sha;
  EXPECT_EQ(FileCrc(dir / L"large.bin", &size), expected);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(FileCrc(dir / L"large.bin", nullptr, &sha), expected);
  Sha256 whole;
  whole.update(reinterpret_cast<const unsigned char*>(data.data()), data.size());
  EXPECT_EQ(sha, whole.hexDigest());
}

TEST(CheckLocalFiles, MarksWhatMustBeDownloadedAndKeepsGameFiles) {
  TempDir game;
  const std::vector<Case> cases{
      {"ok.bin", "intact content", "intact content", false},
      {"missing.bin", "never written", nullptr, true},
      {"sub\\changed.bin", "0123456789", "0123456780", true},  // one byte differs
      {"short.bin", "full length content", "full", true},
      {"dir", "a directory stands here", nullptr, true},
      {"empty.bin", "", "", false},
      {"shortcrc.bin", "abc", "abc", true},  // listed CRC without its first digit: never matches
      {"locked.bin", "data", "data", true},   // cannot be opened
  };
  auto entries = Prepare<FileListEntry>(game.path(), cases);
  testfiles::WriteFile(game / L"dir\\inside", "x");
  entries[6].crc = entries[6].crc.substr(1);
  entries.push_back({"broken", "", 0, "", false, true, L"Parse Failed", ""});
  InjectFault(FaultCall::OpenFile, 32, L"locked.bin");

  Patcher patcher;
  CheckResults r = CheckLocalFiles(patcher, game.path() + L"\\", entries);
  ClearFaults();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(entries[i].needsDownload, cases[i].needs) << cases[i].path;
    // Game files are never deleted here.
    EXPECT_TRUE(!cases[i].onDisk || testfiles::Exists(game / AnsiToWide(cases[i].path))) << cases[i].path;
  }
  EXPECT_TRUE(entries[8].needsDownload);
  EXPECT_EQ(entries[8].message, L"Parse Failed");  // kept
  EXPECT_EQ(entries[7].message, L"failed to open for checking");
  EXPECT_EQ(r.faults, 1);
  EXPECT_EQ(r.filesToDownload, 7);
  EXPECT_EQ(r.bytesToDownload, 13u + 10u + 19u + 23u + 3u + 4u + 0u);
  EXPECT_EQ(patcher.filesDone + r.filesToDownload, patcher.filesTotal);
  EXPECT_EQ(patcher.stage, Verifying);
  EXPECT_EQ(patcher.statusText.get(), texts::VerifyingGame);
}

TEST(CheckZipFiles, DamagedPackagesAreDeletedMissingOnesAreNot) {
  // With resumable downloads a package shorter than listed stays for the download to continue.
  for (bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "resuming" : "not resuming");
    TempDir install;
    std::wstring zipDir = install / L"Temp\\ZipUpdate";
    const std::vector<Case> cases{{"good.zip", "good package", "good package", false},
                                  {"bad.zip", "bad package!", "bad package?", true},
                                  {"short.zip", "short package", "short", true},
                                  {"absent.zip", "absent", nullptr, true}};
    auto entries = Prepare<ZipListEntry>(zipDir, cases);
    EngineOptions options;
    options.resumeDownloads = resume;
    Patcher patcher(options);
    CheckResults r = CheckZipFiles(patcher, install.path(), entries);
    for (size_t i = 0; i < cases.size(); ++i) {
      const bool kept = !cases[i].needs || (resume && cases[i].path == "short.zip");
      EXPECT_EQ(entries[i].needsDownload, cases[i].needs) << cases[i].path;
      EXPECT_EQ(testfiles::Exists(zipDir + L"\\" + AnsiToWide(cases[i].path)), kept) << cases[i].path;
    }
    EXPECT_EQ(r.bytesToDownload, 12u + 13u + 6u);
    EXPECT_EQ(patcher.statusText.get(), texts::FindingPackages);
  }
}
