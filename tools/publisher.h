// The release builder: turns a game tree and a launcher folder into the folder a plain static
// HTTP server publishes (configuration texts, file list, zip list, zip packages, the loose game
// files and the launcher package), in the layout and text forms the launcher reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How long a signed release holds unless told otherwise: re-sign (ResignRelease) well within it.
constexpr int kDefaultValidDays = 30;
constexpr int kMaxValidDays = 3660;

struct PublishOptions {
  std::wstring gameDir;       // the contents of vorel_win: vorel.exe, data files, subfolders
  std::wstring launcherDir;   // the launcher package's files, top level only
  std::wstring outputDir;     // created; must not exist or be empty
  std::string gameVersion;    // incrementVersion, e.g. "1.0.3"
  std::string zipVersion;     // empty: the game version
  std::string launcherVersion;
  std::vector<std::string> mirrors;     // base URLs of outputDir's root, each ending in "/"
  uint64_t packageSize = 256ull << 20;  // target unpacked bytes of one zip package
  bool scramble = false;                // configuration values scrambled with the keyed alphabet
  bool useZip = true;
  // Hex Ed25519 secret keys (MakeSigningKeys): the release is signed, with a manifest and its
  // signatures (one a line, in this order) beside launcherconfig.txt; two while a studio changes
  // keys. None: an unsigned release, as always.
  std::vector<std::string> signingKeys;
  // A signed manifest holds from issuedAt (seconds since 1970, UTC; 0: now) for validDays days.
  int validDays = kDefaultValidDays;
  int64_t issuedAt = 0;
  // Earlier releases to make binary patches from (native builds only): each the game tree of a
  // release (like gameDir) or a server folder Publish wrote (every version published in it).
  // None: no patches and no patch list, as always.
  std::vector<std::wstring> previousDirs;
  std::function<void(const std::string&)> progress;  // optional: one line per step of a long run
};

struct PublishResult {
  bool ok = false;
  std::string error;               // when !ok; nothing of the output is left behind then
  std::vector<std::string> notes;  // things worth knowing that did not stop the publication
  int files = 0, packages = 0;
  uint64_t bytes = 0;              // bytes of the game files
  // Binary patches: how many were published and their bytes; the game files that differ from a
  // copy in an earlier release; and the bytes of the whole files the patches stand in for.
  int patches = 0, changedFiles = 0;
  uint64_t patchBytes = 0, changedBytes = 0;
};

PublishResult Publish(const PublishOptions& options);

// Signs the published release in outputDir again with new dates (issuedAt, 0: now, for
// validDays days) and nothing else changed. The manifest there must verify with the first key
// of signingKeys; every key signs the new one. Error empty on success.
std::string ResignRelease(const std::wstring& outputDir, const std::vector<std::string>& signingKeys, int validDays,
                          int64_t issuedAt = 0);

// Where the files land below outputDir (paths with "/"), as the addresses use them.
std::string PublishedLauncherFolder();                            // production/vorel_pql_win/Launcher/
std::string PublishedGameFolder(const std::string& gameVersion);  // production/vorel_pql_win/Game/<v>/
