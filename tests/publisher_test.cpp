#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "build_config.h"
#include "platform/error.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/sha256.h"
#include "support/signature.h"
#include "support/test_files.h"
#include "support/text_util.h"
#include "tools/publisher.h"
#include "update/patch_list.h"
#include "update/patcher.h"
#include "update/release.h"
#include "update/verify.h"
#include "update/zip_extract.h"
#include "update/binary_patch.h"

namespace fs = std::filesystem;
using testfiles::FsPath;
using testfiles::ReadFile;
using Tree = std::map<std::string, std::string>;  // "/"-separated narrow path -> bytes

namespace {

std::wstring Below(std::wstring d, const std::string& p) { return d + L"\\" + AnsiToWide(ReplaceAll(p, "/", "\\")); }

// The files below dir with their bytes; with sizesOnly, folders too and sizes in place of bytes.
Tree Snapshot(const std::wstring& dir, bool sizesOnly = false) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(FsPath(dir))) {
    std::string path = ReplaceAll(WideToAnsi(testfiles::WidePath(fs::relative(entry.path(), FsPath(dir)))), "\\", "/");
    if (sizesOnly) tree[path] = entry.is_regular_file() ? std::to_string(entry.file_size()) : "folder";
    else if (entry.is_regular_file()) tree[path] = ReadFile(testfiles::WidePath(entry.path()));
  }
  return tree;
}

int64_t TotalSize(const Tree& t) { int64_t n = 0; for (const auto& e : t) n += int64_t(e.second.size()); return n; }

std::string SizeAndCrc(const std::wstring& file) {  // as the lists give them
  uint64_t size = 0;
  std::string crc = FileCrc(file, &size);
  return std::to_string(size) + " " + crc;
}

struct Publisher : ::testing::Test {
  testfiles::TempDir dir;
  Tree game = {{"vorel_win/vorel.exe", testfiles::RandomBytes(70000, 1)}, {"vorel_win/empty.dat", ""},
               {"vorel_win/data/a.txt", "a"}, {"vorel_win/data/with space.txt", "s"}, {"vorel_win/Data2/z.txt", "z"},
               {"vorel_win/data/maps/b.bin", testfiles::RandomBytes(50000, 2)},
               {"vorel_win/data/maps/c.bin", std::string(120000, 'c')},  // above the package size
               {"vorel_win/" + WideToAnsi(L"\u0111\u01A1n.txt"), "non-ASCII name, ANSI on Windows"}};
  Tree launcher = {{LauncherExeName, testfiles::RandomBytes(30000, 3)}, {"helper.dll", "dll"}, {"lang.ini", "[ui]"}};
  PublishOptions options = Inputs(dir.path());

  PublishOptions Inputs(const std::wstring& root) const {
    PublishOptions o;
    o.gameDir = root + L"\\vorel_win", o.launcherDir = root + L"\\launcher", o.outputDir = root + L"\\out";
    o.gameVersion = "1.0.3", o.launcherVersion = "2.1.0", o.packageSize = 100000;
    o.mirrors = {"http://127.0.0.1:8080/", "http://mirror.example/base/"};
    for (const auto& [path, bytes] : game) testfiles::WriteFile(Below(root, path), bytes);
    for (const auto& [path, bytes] : launcher) testfiles::WriteFile(Below(o.launcherDir, path), bytes);
    fs::create_directories(FsPath(o.gameDir + L"\\emptydir\\sub"));
    return o;
  }

  // The output file an address reaches when a mirror (or the built-in base) serves the output.
  std::wstring served(const std::string& url) const {
    for (const auto& base : {options.mirrors.at(0), options.mirrors.at(1), std::string(VOREL_UPDATE_HOST) + "/"})
      if (url.rfind(base, 0) == 0) return Below(options.outputDir, ReplaceAll(url.substr(base.size()), "%20", " "));
    return L"";  // nothing
  }
};

}  // namespace

// Each publication is read as the launcher reads it, following every address it gives. The
// scrambled one is also signed: its manifest vouches for every file the launcher fetches.
TEST_F(Publisher, PublicationsReadBackAsTheInputsAndRepeatByteForByte) {
  std::string publicKey, secretKey;
  ASSERT_TRUE(MakeSigningKeys(publicKey, secretKey));
  Tree listed;  // what the file list should say of each game file
  for (const auto& entry : game) listed[entry.first] = SizeAndCrc(Below(dir.path(), entry.first));
  options.issuedAt = 1796688000;  // 2026-12-08: the same day every time, so that two runs repeat
  for (bool scramble : {false, true}) {
    SCOPED_TRACE(scramble ? "scrambled" : "plain");
    options.scramble = scramble, options.useZip = !scramble, options.zipVersion = scramble ? "1.0.0" : "";
    options.outputDir = dir / (scramble ? L"scrambled" : L"plain");
    options.signingKeys.clear();
    if (scramble) options.signingKeys = {secretKey};
    PublishResult result = Publish(options);
    ASSERT_TRUE(result.ok) << result.error;
    std::wstring manifestPath = Below(options.outputDir, PublishedLauncherFolder() + ReleaseManifestFileA);
    ReleaseManifest manifest;
    std::string problem;
    if (scramble) {
      std::string text = ReadFile(manifestPath), signature = ReadFile(manifestPath.substr(0, manifestPath.size() - 3) + L"sig");
      EXPECT_TRUE(SignatureIsValid(text, signature.substr(0, 128), publicKey));
      ASSERT_TRUE(ParseReleaseManifest(text, manifest, problem)) << problem;
      EXPECT_EQ(manifest.files.size(), game.size());
      EXPECT_EQ(manifest.expires - manifest.issued, kDefaultValidDays * 86400);
      // The first record, for an installer to ship, names this release.
      EXPECT_EQ(ReadFile(Below(options.outputDir, PublishedLauncherFolder() + "acceptedrelease.txt")),
                FormatAcceptedRelease(manifest));
    } else {
      EXPECT_FALSE(testfiles::Exists(manifestPath));
    }
    // Every file the launcher fetches, as the signed manifest names it (the unsigned one: nothing).
    auto vouched = [&](const std::map<std::string, ReleaseItem>& items, const std::string& key, const std::wstring& file) {
      if (!scramble) return;
      std::string bytes = ReadFile(file);
      EXPECT_EQ(items.count(key) ? items.at(key).sha256 : "absent", Sha256::OfText(bytes)) << key;
      EXPECT_EQ(items.count(key) ? items.at(key).size : 0, bytes.size()) << key;
    };
    std::map<std::string, ReleaseItem> textItems, launcherItem;
    for (const auto& t : manifest.texts) textItems[t.first] = {0, t.second};
    launcherItem[manifest.launcherPath] = manifest.launcherPackage;
    EXPECT_TRUE(result.notes.size() == 1 && result.notes[0].find("emptydir/sub") != std::string::npos);
    std::wstring configs = Below(options.outputDir, PublishedLauncherFolder());
    std::string texts = ReadFile(configs + L"serverconfig.txt") + ReadFile(configs + L"launcherconfig.txt");
    EXPECT_EQ(texts.find("http") == std::string::npos, scramble) << texts;  // filelistURLs too

    Patcher patcher;
    ServerConfig server;
    ASSERT_TRUE(ParseServerConfig(configs + L"serverconfig.txt", server, false, patcher.alphabet, patcher.logger));
    EXPECT_EQ(FormatVersion(server.incrementVersion), "1.0.3");
    EXPECT_EQ(FormatVersion(server.zipVersion), scramble ? "1.0.0" : "1.0.3");
    EXPECT_EQ(server.useZip, !scramble);
    EXPECT_EQ(server.filelistURLs.at(1), "http://mirror.example/base/production/vorel_pql_win/Game/1.0.3/filelist.txt");
    for (size_t m = 0; m < options.mirrors.size(); ++m) {
      Tree fromList, fetched, installed;
      for (const auto& entry : ParseFileList(ReadFile(served(server.filelistURLs.at(m))), patcher)) {
        fromList["vorel_win/" + entry.path] = std::to_string(entry.size) + " " + entry.crc;
        std::string url = server.incrementupdateURLs.at(m) + ReplaceAll(entry.path, " ", "%20");  // a file alone
        fetched["vorel_win/" + entry.path] = SizeAndCrc(served(url));
        vouched(manifest.files, entry.path, served(url));
      }
      if (scramble) {
        EXPECT_EQ(textItems.at(FileListNameA).sha256, Sha256::OfText(ReadFile(served(server.filelistURLs.at(m)))));
        EXPECT_EQ(textItems.at(ZipListNameA).sha256, Sha256::OfText(ReadFile(served(server.ziplistURLs.at(m)))));
        EXPECT_EQ(textItems.at(ServerConfigFileA).sha256, Sha256::OfText(ReadFile(configs + L"serverconfig.txt")));
        EXPECT_EQ(textItems.at(LauncherConfigFileA).sha256, Sha256::OfText(ReadFile(configs + L"launcherconfig.txt")));
      }
      EXPECT_EQ(fromList, listed);
      EXPECT_EQ(fetched, listed);
      int64_t unpacked = 0;
      for (const auto& package : ParseZipList(ReadFile(served(server.ziplistURLs.at(m))), patcher, unpacked)) {
        std::wstring file = served(server.zipupdateURLs.at(m) + package.name);
        EXPECT_EQ(SizeAndCrc(file), std::to_string(package.size) + " " + package.crc) << package.name;
        vouched(manifest.packages, package.path, file);
        testfiles::TempDir single;  // each package alone, to see the split
        ASSERT_TRUE(ExtractZip(file, single.path()));
        Tree contents = Snapshot(single.path());
        EXPECT_EQ(package.unpackedSize, TotalSize(contents));
        EXPECT_TRUE(TotalSize(contents) <= 100000 || contents.size() == 1) << package.name;
        installed.insert(contents.begin(), contents.end());
      }
      EXPECT_TRUE(installed == game);
    }

    LauncherConfig config;
    ASSERT_TRUE(ParseLauncherConfig(configs + L"launcherconfig.txt", config, patcher.alphabet, patcher.logger));
    const PackageInfo& info = config.launcherZipInfo;
    EXPECT_EQ(FormatVersion(config.launcherVersion), "2.1.0");
    EXPECT_EQ(info.unpackedSize, TotalSize(launcher));
    std::string package = "2.1.0/" + info.path;
    for (const auto& url : Patcher::BuildCandidateUrls(config.remoteURLs, package, LauncherBaseUrl))
      EXPECT_EQ(SizeAndCrc(served(url)), std::to_string(info.size) + " " + info.crc) << url;  // built-in base too
    vouched(launcherItem, info.path, served(config.remoteURLs.at(0) + package));
    testfiles::TempDir update;
    ASSERT_TRUE(ExtractZip(served(config.remoteURLs.at(0) + package), update.path()));
    EXPECT_TRUE(Snapshot(update.path()) == launcher);
  }
  auto monthAgo = fs::file_time_type::clock::now() - std::chrono::hours(720);  // file times do not count
  for (const auto& entry : game) fs::last_write_time(FsPath(Below(dir.path(), entry.first)), monthAgo);
  options.outputDir = dir / L"again";
  ASSERT_TRUE(Publish(options).ok);
  EXPECT_TRUE(Snapshot(options.outputDir) == Snapshot(dir / L"scrambled"));

  // Re-signing moves the dates and nothing else, and signs only what the studio signed.
  const std::wstring manifestPath = Below(options.outputDir, PublishedLauncherFolder() + ReleaseManifestFileA);
  const std::string before = ReadFile(manifestPath);
  EXPECT_EQ(ResignRelease(options.outputDir, {secretKey}, 7, options.issuedAt + 86400), "");
  const std::string after = ReadFile(manifestPath);
  EXPECT_EQ(after, ReplaceAll(ReplaceAll(before, "issued=2026-12-08T00:00:00Z", "issued=2026-12-09T00:00:00Z"),
                              "expires=2027-01-07T00:00:00Z", "expires=2026-12-16T00:00:00Z"));
  EXPECT_TRUE(SignedWithKey(after, ReadFile(manifestPath.substr(0, manifestPath.size() - 3) + L"sig"), publicKey));
  EXPECT_NE(ResignRelease(options.outputDir, {secretKey}, 7, options.issuedAt).find("after the new date"), std::string::npos);
  testfiles::WriteFile(manifestPath, ReplaceAll(after, "incrementVersion=1.0.3", "incrementVersion=1.0.4"));
  EXPECT_NE(ResignRelease(options.outputDir, {secretKey}, 7).find("is not signed"), std::string::npos);
  EXPECT_NE(ResignRelease(options.outputDir, {secretKey}, 0).find("outside 1 to 3660"), std::string::npos);
}

// v1 is published as always (no patch list); v2 with patches from v1's game tree and v1's server
// folder (the same copies: one patch each) and from an older tree with another copy of b.bin.
TEST_F(Publisher, PatchesFromEarlierReleasesRebuildTheNewFilesAndGainOrAreLeftOut) {
  std::string publicKey, secretKey;
  ASSERT_TRUE(MakeSigningKeys(publicKey, secretKey));
  auto edited = [](std::string bytes, size_t at) { bytes[at / 2] ^= 0x55; return bytes.insert(at, "inserted"); };
  const std::string b = game.at("vorel_win/data/maps/b.bin"), level = testfiles::RandomBytes(40000, 7),
                    exe = game.at("vorel_win/vorel.exe"), small = testfiles::RandomBytes(4000, 9);
  struct Row { std::string path, v1, v2; size_t patches; };  // v1 empty: new in v2
  const std::vector<Row> rows = {
      {"data/maps/b.bin", b, edited(b, 30000), 2},  // changed a little; the older tree has a third copy
      {"level 2.pak", level, edited(level, 100), 1},
      {"vorel.exe", exe, exe, 0},                                            // unchanged
      {"data/new.bin", "", testfiles::RandomBytes(20000, 8), 0},              // new
      {"small.dat", small, edited(small, 2000), 0},                          // below 4 KiB: whole file only
      {"data/maps/c.bin", std::string(120000, 'c'), testfiles::RandomBytes(120000, 10), 0},  // gains nothing
  };
  for (const Row& row : rows) testfiles::WriteFile(Below(options.gameDir, row.path), row.v1);
  fs::remove(FsPath(Below(options.gameDir, "data/new.bin")));
  options.outputDir = dir / L"v1";
  ASSERT_TRUE(Publish(options).ok);
  EXPECT_FALSE(testfiles::Exists(Below(options.outputDir, PublishedGameFolder("1.0.3") + PatchListNameA)));
  const std::wstring v1 = dir / L"v1game", older = dir / L"v0";
  fs::copy(FsPath(options.gameDir), FsPath(v1), fs::copy_options::recursive);
  for (const auto& [path, bytes] : Tree{{"vorel.exe", exe}, {"level 2.pak", level}, {"data/maps/b.bin", edited(b, 9000)}})
    testfiles::WriteFile(Below(older, path), bytes);
  for (const Row& row : rows) testfiles::WriteFile(Below(options.gameDir, row.path), row.v2);
  options.gameVersion = "1.0.4";
  options.previousDirs = {v1, dir / L"v1", older};

  for (bool sign : {false, true}) {
    SCOPED_TRACE(sign ? "signed" : "unsigned");
    options.outputDir = dir / (sign ? L"v2signed" : L"v2");
    options.signingKeys.clear();
    if (sign) options.signingKeys = {secretKey};
    PublishResult result = Publish(options);
    ASSERT_TRUE(result.ok) << result.error;
    const std::string folder = PublishedGameFolder("1.0.4"), list = ReadFile(Below(options.outputDir, folder + PatchListNameA));
    size_t skipped = 0;
    const auto entries = ParsePatchList(list, &skipped);
    EXPECT_EQ(skipped, 0u);
    for (const Row& row : rows) EXPECT_EQ(entries.count(row.path), row.patches) << row.path;
    uint64_t patchBytes = 0, wholeBytes = 0;
    for (const auto& [path, entry] : entries) {
      SCOPED_TRACE(path);
      const std::wstring patchFile = Below(options.outputDir, folder + entry.address), newFile = Below(options.gameDir, path);
      EXPECT_EQ(entry.address, "patches/" + entry.baseCrc + "-" + std::to_string(entry.baseSize) + "/" + path);
      EXPECT_EQ(SizeAndCrc(patchFile), std::to_string(entry.patchSize) + " " + entry.patchCrc);
      EXPECT_EQ(entry.patchSha256, sign ? Sha256::OfText(ReadFile(patchFile)) : "");
      EXPECT_EQ(std::to_string(entry.resultSize) + " " + entry.resultCrc, SizeAndCrc(newFile));
      EXPECT_LE(entry.patchSize * 2, entry.resultSize);
      std::wstring base;  // the earlier copy the entry names
      for (const auto& tree : {v1, older})
        if (SizeAndCrc(Below(tree, path)) == std::to_string(entry.baseSize) + " " + entry.baseCrc) base = Below(tree, path);
      ASSERT_FALSE(base.empty());
      testfiles::TempDir scratch;
      ASSERT_EQ(patch::Apply(base, patchFile, scratch / L"rebuilt"), "");
      EXPECT_TRUE(ReadFile(scratch / L"rebuilt") == ReadFile(newFile));
      patchBytes += entry.patchSize, wholeBytes += entry.resultSize;
    }
    EXPECT_EQ(result.patches, 3);
    EXPECT_EQ(result.changedFiles, 4);  // b.bin, level 2.pak, small.dat, c.bin
    EXPECT_EQ(result.patchBytes, patchBytes);
    EXPECT_EQ(result.changedBytes, wholeBytes);

    // The signed manifest vouches for the list, and through its SHA-256 lines for every patch;
    // re-signing keeps it so.
    const std::wstring manifestPath = Below(options.outputDir, PublishedLauncherFolder() + ReleaseManifestFileA);
    EXPECT_EQ(testfiles::Exists(manifestPath), sign);
    if (!sign) continue;
    ASSERT_EQ(ResignRelease(options.outputDir, {secretKey}, 7), "");
    const std::string text = ReadFile(manifestPath);
    EXPECT_TRUE(SignedWithKey(text, ReadFile(manifestPath.substr(0, manifestPath.size() - 3) + L"sig"), publicKey));
    ReleaseManifest manifest;
    std::string problem;
    ASSERT_TRUE(ParseReleaseManifest(text, manifest, problem)) << problem;
    EXPECT_EQ(manifest.texts[PatchListNameA], Sha256::OfText(list));
  }
}

TEST_F(Publisher, RefusalsNameTheirCauseAndLeaveEverythingAsItWas) {
  using O = PublishOptions;
  auto file = [](const std::string& path, uint64_t size = 1, bool launcher = false) -> std::function<void(O&)> {
    return [=](O& o) {  // sparse: nothing near 4 GiB is written or read
      testfiles::WriteFile(Below(launcher ? o.launcherDir : o.gameDir, path), "");
      fs::resize_file(FsPath(Below(launcher ? o.launcherDir : o.gameDir, path)), size);
    };
  };
  struct Row { std::string mentioned; std::function<void(O&)> setup; const wchar_t* failingWrite = nullptr; };
  std::vector<Row> rows = {
      {"data/huge.pak\" has 4294967296 bytes", file("data/huge.pak", 4ull << 30)}, {"bad=dir", file("bad=dir/f")},
      {"the launcher package takes at most", file("huge.pak", 4000ull << 20, true)},
      {"a&b.dll\": the self-update script", file("a&b.dll", 1, true)}, {"plugins", file("plugins/p.dll", 1, true)},
      {LauncherExeName, [](O& o) { fs::remove(FsPath(Below(o.launcherDir, LauncherExeName))); }},
      {"game version", [](O& o) { o.gameVersion = "1.02.3"; }}, {"zip version", [](O& o) { o.zipVersion = "1.0"; }},
      {"launcher version", [](O& o) { o.launcherVersion = "1"; }}, {"package size 0", [](O& o) { o.packageSize = 0; }},
      {"no mirror", [](O& o) { o.mirrors.clear(); }}, {"does not exist", [](O& o) { o.gameDir += L"\\x"; }},
      {"holds no files", [](O& o) { o.gameDir += L"\\emptydir"; }},  // its empty subfolder does not count
      {"not empty", [](O& o) { testfiles::WriteFile(o.outputDir + L"\\keep.txt", "mine"); }},
      {"vorel_win_002.zip", [](O& o) { o.outputDir += L"\\new\\deeper"; }, L"vorel_win_002.zip"},  // made folders go
      {"launcherconfig.txt", [](O& o) { fs::create_directories(FsPath(o.outputDir)); }, L"launcherconfig.txt"},
  };
  std::vector<std::string> names = {"data/a=b.txt", "cost$.txt", "x#y.txt", "100%.txt", "data/..cfg"};
#ifdef _WIN32
  rows.push_back({"data/\\u6587.txt", [](O& o) { testfiles::WriteFile(o.gameDir + L"\\data\\\u6587.txt", ""); }});
#else  // names Windows cannot create (data/A.txt: data/a.txt in other case); links to outside the folders
  names.insert(names.end(), {"what?.txt", "c:d.txt", "trail.", "data/CON.txt", "data/com0.txt", "pipe|.txt", "data/A.txt", "tab\t.txt"});
  rows.push_back({"a\\b", [](O& o) { fs::copy(FsPath(o.launcherDir) / "lang.ini", FsPath(o.gameDir) / "a\\b"); }});
  auto link = [](const char* target, const char* at, bool folder = false) {
    return [=](O& o) {  // the targets lie outside the folder the link is in
      fs::path from = FsPath(o.gameDir).parent_path() / target, to = FsPath(o.gameDir).parent_path() / at;
      folder ? fs::create_directory_symlink(from, to) : fs::create_symlink(from, to);
    };
  };
  rows.push_back({"\"data/ln\" in the game folder is a symbolic link", link("launcher/lang.ini", "vorel_win/data/ln")});
  rows.push_back({"\"data/out\" in the game folder is a symbolic link", link("launcher", "vorel_win/data/out", true)});
  rows.push_back({"\"x.dll\" in the launcher folder is a symbolic", link("vorel_win/empty.dat", "launcher/x.dll")});
#endif
  // Earlier releases to make patches from: neither a game tree nor a server folder.
  rows.push_back({"is neither a game tree", [](O& o) { o.previousDirs = {o.gameDir, o.launcherDir}; }});
  rows.push_back({"is not a folder", [](O& o) { o.previousDirs = {o.gameDir + L"\\nowhere"}; }});
  rows.push_back({"holds no published game files", [](O& o) {
    o.previousDirs = {o.launcherDir + L"\\..\\old"};
    fs::create_directories(FsPath(o.previousDirs[0] + L"\\production\\vorel_pql_win\\Game\\1.0.2"));
  }});
  for (const auto& name : names) rows.push_back({ReplaceAll(name, "\t", "\\x09"), file(name)});
  for (std::string bad : {"http://h/x", "https://h/", "http://a/$http://b/", "http://h/#x/", "h/"})
    rows.push_back({"mirror \"" + bad + "\"", [=](O& o) { o.mirrors[1] = bad; }});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mentioned);
    testfiles::TempDir root;
    PublishOptions refused = Inputs(root.path());
    row.setup(refused);
    Tree before = Snapshot(root.path(), true);
    if (row.failingWrite) InjectFault(FaultCall::OpenFile, 5, row.failingWrite, 1);
    PublishResult result = Publish(refused);
    ClearFaults();
    EXPECT_TRUE(!result.ok && result.error.find(row.mentioned) != std::string::npos) << result.error;
    EXPECT_EQ(Snapshot(root.path(), true), before);
  }
}
