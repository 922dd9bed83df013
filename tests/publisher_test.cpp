#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/names.h"
#include "build_config.h"
#include "platform/error.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "support/text_util.h"
#include "tools/publisher.h"
#include "update/config.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/verify.h"
#include "update/zip_extract.h"

namespace fs = std::filesystem;
using testfiles::TempDir;
using Tree = std::map<std::string, std::string>;  // "/"-separated narrow path -> bytes

namespace {

std::wstring Backslashed(const std::string& path) { return AnsiToWide(ReplaceAll(path, "/", "\\")); }

// Every file below dir. Folders without files do not show.
Tree TreeContents(const std::wstring& dir) {
  Tree tree;
  fs::path root = testfiles::FsPath(dir);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::string relative = ReplaceAll(WideToAnsi(testfiles::WidePath(fs::relative(it->path(), root))), "\\", "/");
    tree[relative] = testfiles::ReadFile(testfiles::WidePath(it->path()));
  }
  return tree;
}

void WriteTree(const std::wstring& dir, const Tree& tree) {
  for (const auto& [path, bytes] : tree) testfiles::WriteFile(dir + L"\\" + Backslashed(path), bytes);
}

#ifndef _WIN32
// Names the test support cannot write (a backslash in a Linux name): straight through the
// standard library.
void WriteRaw(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}
#endif

struct Publisher : ::testing::Test {
  TempDir dir;
  Tree game;
  Tree launcher;
  PublishOptions options;

  void SetUp() override {
    game = {
        {"vorel.exe", testfiles::RandomBytes(70000, 1)},
        {"empty.dat", ""},
        {"readme.txt", "hello world"},
        {"data/a.txt", "alpha\n"},
        {"data/with space.txt", "spaced"},
        {"data/maps/b.bin", testfiles::RandomBytes(50000, 2)},
        {"data/maps/c.bin", std::string(120000, 'c')},  // above the package size: a package of its own
        {"Data2/z.txt", "z"},
        {WideToAnsi(L"\u0111\u01A1n.txt"), "non-ASCII name, in the ANSI code page on Windows"},
    };
    launcher = {
        {LauncherExeName, testfiles::RandomBytes(30000, 3)},
        {"helper.dll", testfiles::RandomBytes(1000, 4)},
        {"lang.ini", "[ui]\nlang=vi\n"},
    };
    options.gameDir = dir / L"game";
    options.launcherDir = dir / L"launcher";
    options.outputDir = dir / L"out";
    options.gameVersion = "1.0.3";
    options.launcherVersion = "2.1.0";
    options.mirrors = {"http://127.0.0.1:8080/", "http://mirror.example/base/"};
    options.packageSize = 100000;
    WriteTree(options.gameDir, game);
    WriteTree(options.launcherDir, launcher);
    fs::create_directories(testfiles::FsPath(dir / L"game\\emptydir"));
  }
  void TearDown() override { ClearFaults(); }

  std::wstring published(const std::string& path) const { return options.outputDir + L"\\" + Backslashed(path); }
  std::string gameFolder() const { return PublishedGameFolder(options.gameVersion); }

  // The output file an address reaches when a mirror (or the built-in base) serves the output.
  std::wstring served(const std::string& url) const {
    std::vector<std::string> bases = options.mirrors;
    bases.push_back(std::string(VOREL_UPDATE_HOST) + "/");
    for (const auto& base : bases) {
      if (url.compare(0, base.size(), base) == 0) return published(ReplaceAll(url.substr(base.size()), "%20", " "));
    }
    ADD_FAILURE() << "no mirror serves " << url;
    return L"";
  }

  ServerConfig serverConfig() {
    Patcher patcher;
    ServerConfig config;
    EXPECT_TRUE(ParseServerConfig(published(PublishedLauncherFolder() + "serverconfig.txt"), config, false,
                                  patcher.alphabet, patcher.logger));
    return config;
  }
  LauncherConfig launcherConfig() {
    Patcher patcher;
    LauncherConfig config;
    EXPECT_TRUE(ParseLauncherConfig(published(PublishedLauncherFolder() + "launcherconfig.txt"), config,
                                    patcher.alphabet, patcher.logger));
    return config;
  }

  // A refusal names what it refuses and writes nothing.
  void expectRefused(const std::string& mentioned) {
    PublishResult result = Publish(options);
    EXPECT_FALSE(result.ok) << "accepted, expected a refusal naming " << mentioned;
    EXPECT_NE(result.error.find(mentioned), std::string::npos) << result.error;
    EXPECT_FALSE(testfiles::Exists(options.outputDir)) << result.error;
  }
};

}  // namespace

TEST_F(Publisher, ListsDescribeEveryFileWithSizeAndCrc) {
  PublishResult result = Publish(options);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.files, static_cast<int>(game.size()));
  uint64_t bytes = 0;
  for (const auto& [path, content] : game) bytes += content.size();
  EXPECT_EQ(result.bytes, bytes);
  EXPECT_TRUE(std::any_of(result.notes.begin(), result.notes.end(),
                          [](const std::string& note) { return note.find("emptydir") != std::string::npos; }));

  Patcher patcher;
  std::string text = testfiles::ReadFile(published(gameFolder() + "filelist.txt"));
  EXPECT_EQ(text.find('\r'), std::string::npos);
  std::vector<FileListEntry> files = ParseFileList(text, patcher);
  ASSERT_EQ(files.size(), game.size());
  std::vector<std::string> paths;
  for (const auto& entry : files) {
    SCOPED_TRACE(entry.path);
    EXPECT_FALSE(entry.failed);
    EXPECT_EQ(entry.name, entry.path);
    ASSERT_EQ(game.count(entry.path), 1u);
    EXPECT_EQ(entry.size, game[entry.path].size());
    EXPECT_EQ(entry.crc, FileCrc(options.gameDir + L"\\" + Backslashed(entry.path)));
    // The increment update fetches each file by itself from files/.
    EXPECT_EQ(testfiles::ReadFile(published(gameFolder() + "files/" + entry.path)), game[entry.path]);
    paths.push_back(entry.path);
  }
  EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));

  int64_t unpacked = 0;
  std::vector<ZipListEntry> packages =
      ParseZipList(testfiles::ReadFile(published(gameFolder() + "ziplist.txt")), patcher, unpacked);
  EXPECT_EQ(packages.size(), static_cast<size_t>(result.packages));
  EXPECT_EQ(unpacked, static_cast<int64_t>(bytes));
}

TEST_F(Publisher, PackagesExtractToTheGameTreeInSizedPackages) {
  PublishResult result = Publish(options);
  ASSERT_TRUE(result.ok) << result.error;
  Patcher patcher;
  int64_t unpacked = 0;
  std::vector<ZipListEntry> packages =
      ParseZipList(testfiles::ReadFile(published(gameFolder() + "ziplist.txt")), patcher, unpacked);
  ASSERT_GE(packages.size(), 3u);

  // As the launcher installs them: every package into one Package folder.
  TempDir install;
  std::wstring packageRoot = install / L"Package";
  Tree previous;
  uint64_t previousSize = 0;
  for (size_t i = 0; i < packages.size(); ++i) {
    SCOPED_TRACE(packages[i].name);
    char name[48];
    snprintf(name, sizeof name, "vorel_win_%03zu.zip", i + 1);
    EXPECT_EQ(packages[i].name, name);
    EXPECT_EQ(packages[i].path, name);
    ASSERT_TRUE(ExtractZip(published(gameFolder() + "zip/" + packages[i].path), packageRoot));
    // Each package on its own, to see how the files were split.
    TempDir single;
    ASSERT_TRUE(ExtractZip(published(gameFolder() + "zip/" + packages[i].path), single.path()));
    Tree contents = TreeContents(single.path());
    ASSERT_FALSE(contents.empty());
    uint64_t size = 0;
    for (const auto& [path, bytes] : contents) size += bytes.size();
    EXPECT_EQ(packages[i].unpackedSize, static_cast<int64_t>(size));
    EXPECT_TRUE(size <= options.packageSize || contents.size() == 1) << size;
    if (i > 0) {
      // The package before was closed only because this one's first file did not fit.
      EXPECT_GT(previousSize + contents.begin()->second.size(), options.packageSize);
      EXPECT_LT(previous.rbegin()->first, contents.begin()->first);
    }
    previous = contents;
    previousSize = size;
  }
  Tree expected;
  for (const auto& [path, bytes] : game) expected["vorel_win/" + path] = bytes;
  EXPECT_EQ(TreeContents(packageRoot), expected);
}

TEST_F(Publisher, ConfigurationsLeadTheLauncherToEveryPublishedFile) {
  PublishResult result = Publish(options);
  ASSERT_TRUE(result.ok) << result.error;

  // The built-in base address finds the launcher configuration too.
  EXPECT_EQ(LauncherBaseUrl, std::string(VOREL_UPDATE_HOST) + "/" + PublishedLauncherFolder());
  LauncherConfig launcherConfig = this->launcherConfig();
  EXPECT_EQ(FormatVersion(launcherConfig.launcherVersion), "2.1.0");
  EXPECT_EQ(launcherConfig.remoteURLs.at(1), "http://mirror.example/base/production/vorel_pql_win/Launcher/");
  const PackageInfo& zipInfo = launcherConfig.launcherZipInfo;
  EXPECT_EQ(zipInfo.path, "VORELLauncher_2.1.0.zip");
  uint64_t launcherBytes = 0;
  for (const auto& [name, bytes] : launcher) launcherBytes += bytes.size();
  EXPECT_EQ(zipInfo.unpackedSize, static_cast<int64_t>(launcherBytes));
  // Every candidate address of the self-update reaches the package.
  std::string packageName = FormatVersion(launcherConfig.launcherVersion) + "/" + zipInfo.path;
  for (const auto& url : Patcher::BuildCandidateUrls(launcherConfig.remoteURLs, packageName, LauncherBaseUrl)) {
    SCOPED_TRACE(url);
    uint64_t size = 0;
    EXPECT_EQ(FileCrc(served(url), &size), zipInfo.crc);
    EXPECT_EQ(static_cast<int64_t>(size), zipInfo.size);
  }
  TempDir update;
  ASSERT_TRUE(ExtractZip(served(launcherConfig.remoteURLs[0] + packageName), update.path()));
  EXPECT_EQ(TreeContents(update.path()), launcher);

  ServerConfig server = serverConfig();
  EXPECT_EQ(FormatVersion(server.incrementVersion), "1.0.3");
  EXPECT_EQ(FormatVersion(server.zipVersion), "1.0.3");
  EXPECT_TRUE(server.useZip);
  ASSERT_EQ(server.filelistURLs.size(), 2u);
  EXPECT_EQ(server.filelistURLs[1], "http://mirror.example/base/production/vorel_pql_win/Game/1.0.3/filelist.txt");
  for (const auto& url : server.filelistURLs)
    EXPECT_EQ(testfiles::ReadFile(served(url)), testfiles::ReadFile(published(gameFolder() + "filelist.txt")));
  for (const auto& url : server.ziplistURLs)
    EXPECT_EQ(testfiles::ReadFile(served(url)), testfiles::ReadFile(published(gameFolder() + "ziplist.txt")));

  // Packages: zip base + zip-list name; loose files: increment base + path, blanks as %20.
  Patcher patcher;
  int64_t unpacked = 0;
  std::vector<ZipListEntry> packages =
      ParseZipList(testfiles::ReadFile(served(server.ziplistURLs[0])), patcher, unpacked);
  ASSERT_EQ(server.zipupdateURLs.size(), 2u);
  for (const auto& base : server.zipupdateURLs) {
    for (const auto& package : packages) {
      uint64_t size = 0;
      EXPECT_EQ(FileCrc(served(base + package.name), &size), package.crc) << base;
      EXPECT_EQ(static_cast<int64_t>(size), package.size);
    }
  }
  std::vector<FileListEntry> files = ParseFileList(testfiles::ReadFile(served(server.filelistURLs[0])), patcher);
  ASSERT_EQ(server.incrementupdateURLs.size(), 2u);
  for (const auto& base : server.incrementupdateURLs) {
    for (const auto& file : files) {
      std::string url = base + ReplaceAll(ReplaceAll(file.path, "\\", "/"), " ", "%20");
      EXPECT_EQ(FileCrc(served(url)), file.crc) << url;
    }
  }
}

TEST_F(Publisher, ScrambledConfigurationsReadBackAsThePlainOnes) {
  options.useZip = false;
  options.zipVersion = "1.0.0";
  PublishResult result = Publish(options);
  ASSERT_TRUE(result.ok) << result.error;
  ServerConfig plainServer = serverConfig();
  LauncherConfig plainLauncher = launcherConfig();
  options.scramble = true;
  options.outputDir = dir / L"scrambled";
  result = Publish(options);
  ASSERT_TRUE(result.ok) << result.error;

  std::string serverText = testfiles::ReadFile(published(PublishedLauncherFolder() + "serverconfig.txt"));
  size_t line = serverText.find("\nfilelistURLs=");
  ASSERT_NE(line, std::string::npos);
  EXPECT_NE(serverText.compare(line + 14, 5, "http:"), 0) << serverText;
  EXPECT_EQ(serverText.find("http"), std::string::npos) << serverText;
  EXPECT_EQ(testfiles::ReadFile(published(PublishedLauncherFolder() + "launcherconfig.txt")).find("http"),
            std::string::npos);

  ServerConfig server = serverConfig();
  EXPECT_EQ(FormatVersion(server.incrementVersion), "1.0.3");
  EXPECT_EQ(FormatVersion(server.zipVersion), "1.0.0");
  EXPECT_FALSE(server.useZip);
  EXPECT_FALSE(plainServer.useZip);
  EXPECT_EQ(server.filelistURLs, plainServer.filelistURLs);
  EXPECT_EQ(server.ziplistURLs, plainServer.ziplistURLs);
  EXPECT_EQ(server.zipupdateURLs, plainServer.zipupdateURLs);
  EXPECT_EQ(server.incrementupdateURLs, plainServer.incrementupdateURLs);
  LauncherConfig launcher = launcherConfig();
  EXPECT_EQ(FormatVersion(launcher.launcherVersion), "2.1.0");
  EXPECT_EQ(launcher.remoteURLs, plainLauncher.remoteURLs);
  EXPECT_EQ(launcher.launcherZipInfo.path, plainLauncher.launcherZipInfo.path);
  EXPECT_EQ(launcher.launcherZipInfo.size, plainLauncher.launcherZipInfo.size);
  EXPECT_EQ(launcher.launcherZipInfo.crc, plainLauncher.launcherZipInfo.crc);
}

TEST_F(Publisher, SameInputGivesIdenticalBytes) {
  // An existing empty output folder is accepted.
  fs::create_directories(testfiles::FsPath(options.outputDir));
  PublishResult first = Publish(options);
  ASSERT_TRUE(first.ok) << first.error;
  Tree once = TreeContents(options.outputDir);

  // File times do not reach the output.
  for (const auto& [path, bytes] : game) {
    fs::path file = testfiles::FsPath(options.gameDir + L"\\" + Backslashed(path));
    fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(30 * 24));
  }
  options.outputDir = dir / L"again";
  PublishResult second = Publish(options);
  ASSERT_TRUE(second.ok) << second.error;
  Tree twice = TreeContents(options.outputDir);
  EXPECT_GT(once.size(), game.size() + 4);
  EXPECT_TRUE(once == twice);
}

TEST_F(Publisher, RefusesNamesTheLauncherCannotCarry) {
  // Each bad name alone in an otherwise good tree; the message names the path.
  std::vector<std::string> names = {"data/a=b.txt", "cost$.txt", "x#y.txt", "100%.txt", "data/.hidden",
                                    "bad=dir/file.txt"};
#ifndef _WIN32
  // Names that Windows itself cannot create.
  names.insert(names.end(), {"what?.txt", "c:d.txt", "tab\there.txt", "trail.", "data/CON.txt", "pipe|.txt"});
#endif
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    std::wstring bad = options.gameDir + L"\\" + Backslashed(name);
    testfiles::WriteFile(bad, "x");
    std::string mentioned = name.substr(0, name.find("/file.txt"));
    expectRefused(mentioned.find('\t') == std::string::npos ? mentioned : "tab\\x09here");
    fs::remove_all(testfiles::FsPath(options.gameDir + L"\\" + Backslashed(name.substr(0, name.find('/')))));
    WriteTree(options.gameDir, game);
  }
#ifdef _WIN32
  // Outside the Vietnamese ANSI code page.
  testfiles::WriteFile(options.gameDir + L"\\data\\\u6587.txt", "x");
  expectRefused("data/\\u6587.txt");
  fs::remove(testfiles::FsPath(options.gameDir + L"\\data\\\u6587.txt"));
#else
  fs::path root = testfiles::FsPath(options.gameDir);
  WriteRaw(root / "back\\slash.txt", "x");
  expectRefused("back\\slash.txt");
  fs::remove(root / "back\\slash.txt");

  // Windows would keep one of two names that differ in case only.
  WriteRaw(root / "data" / "A.txt", "upper");
  expectRefused("data/A.txt");
  fs::remove(root / "data" / "A.txt");

  // A link could carry files from outside the tree.
  fs::create_symlink(testfiles::FsPath(options.launcherDir), root / "linked");
  expectRefused("linked");
  fs::remove(root / "linked");
  fs::create_symlink(testfiles::FsPath(options.launcherDir + L"\\helper.dll"), root / "data" / "linked.dll");
  expectRefused("data/linked.dll");
  fs::remove(root / "data" / "linked.dll");
#endif
  PublishResult result = Publish(options);
  EXPECT_TRUE(result.ok) << result.error;  // the tree is good again
}

TEST_F(Publisher, RefusesBadVersionsMirrorsAndFolders) {
  PublishOptions good = options;
  for (const char* version : {"1.0", "0.1.0", "1.02.3", "1.x.3", "1.0.3 ", "-1.0.0", ""}) {
    SCOPED_TRACE(version);
    options.gameVersion = version;
    expectRefused("game version");
    options = good;
    options.zipVersion = version[0] ? version : "1.0";
    expectRefused("zip version");
    options = good;
    options.launcherVersion = version;
    expectRefused("launcher version");
    options = good;
  }
  for (const char* mirror : {"http://host/base", "http://a/$http://b/", "http://host/#x/", "http://host/;x/",
                             "http://host/a b/", "https://host/", "http://host/https/", "host/", "http:///",
                             "HTTP://host/"}) {
    SCOPED_TRACE(mirror);
    options.mirrors = {"http://good/", mirror};
    expectRefused(std::string("mirror \"") + mirror + "\"");
    options = good;
  }
  options.mirrors.clear();
  expectRefused("mirror");
  options = good;
  for (uint64_t size : {0ull, (4000ull << 20) + 1}) {
    options.packageSize = size;
    expectRefused("package size " + std::to_string(size));
  }
  options = good;

  // An empty game folder (an empty subfolder does not count).
  options.gameDir = dir / L"nogame";
  fs::create_directories(testfiles::FsPath(options.gameDir + L"\\sub"));
  expectRefused("holds no files");
  options.gameDir = dir / L"missing";
  expectRefused("does not exist");
  options = good;

  // The launcher folder must hold the launcher, and only files the update script can move.
  fs::remove(testfiles::FsPath(options.launcherDir + L"\\" + AnsiToWide(LauncherExeName)));
  expectRefused(LauncherExeName);
  WriteTree(options.launcherDir, launcher);
  testfiles::WriteFile(options.launcherDir + L"\\my tool.dll", "x");
  expectRefused("my tool.dll");
  fs::remove(testfiles::FsPath(options.launcherDir + L"\\my tool.dll"));
  testfiles::WriteFile(options.launcherDir + L"\\plugins\\p.dll", "x");
  expectRefused("plugins");
  fs::remove_all(testfiles::FsPath(options.launcherDir + L"\\plugins"));

  // An output folder with something in it is left as it was.
  testfiles::WriteFile(options.outputDir + L"\\keep.txt", "mine");
  PublishResult result = Publish(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("not empty"), std::string::npos) << result.error;
  EXPECT_EQ(TreeContents(options.outputDir), (Tree{{"keep.txt", "mine"}}));
}

TEST_F(Publisher, RefusesFilesTooLargeForTheListsOrPackages) {
  // Sparse: nothing near 4 GiB is written or read.
  auto makeHuge = [](const std::wstring& path, uint64_t size) {
    fs::path file = testfiles::FsPath(path);
    std::ofstream(file, std::ios::binary).close();
    fs::resize_file(file, size);
  };
  makeHuge(options.gameDir + L"\\data\\huge.pak", 4294967296ull);
  expectRefused("data/huge.pak\" has 4294967296 bytes");
  fs::remove(testfiles::FsPath(options.gameDir + L"\\data\\huge.pak"));
  makeHuge(options.launcherDir + L"\\huge.pak", 4000ull << 20);
  expectRefused("bytes; the launcher package takes at most");
}

TEST_F(Publisher, FailureWhileWritingTakesEverythingAway) {
  // Into folders that do not exist yet: they go again too.
  options.outputDir = dir / L"new\\deeper\\out";
  InjectFault(FaultCall::OpenFile, 5, L"vorel_win_002.zip", 1);
  PublishResult result = Publish(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("vorel_win_002.zip"), std::string::npos) << result.error;
  EXPECT_FALSE(testfiles::Exists(dir / L"new"));

  // Into an existing empty folder: it stays, empty.
  options.outputDir = dir / L"empty";
  fs::create_directories(testfiles::FsPath(options.outputDir));
  InjectFault(FaultCall::OpenFile, 5, L"launcherconfig.txt", 1);
  result = Publish(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("launcherconfig.txt"), std::string::npos) << result.error;
  EXPECT_TRUE(testfiles::Exists(options.outputDir));
  EXPECT_TRUE(testfiles::ListNames(options.outputDir).empty());
}
