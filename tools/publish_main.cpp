// vorel-publish: builds the folder that the update server publishes for one game version and
// one launcher version. Exit code 0 when it was written completely, 2 on bad input or errors.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "support/signature.h"
#include "tools/publisher.h"

namespace {

const char kUsage[] =
    "usage: vorel-publish --game DIR --launcher DIR --out DIR --game-version V [--zip-version V]\n"
    "                     --launcher-version V --mirror URL [--mirror URL ...]\n"
    "                     [--package-size-mb N] [--scramble] [--no-zip] [--sign-key FILE]\n"
    "                     [--valid-days N] [--previous DIR ...]\n"
    "       vorel-publish --resign DIR --sign-key FILE [--sign-key FILE] [--valid-days N]\n"
    "       vorel-publish --make-keys DIR\n"
    "\n"
    "  --game DIR             the game tree (the contents of vorel_win)\n"
    "  --launcher DIR         the launcher package's files (VORELLauncher.exe and others)\n"
    "  --out DIR              the server folder to write (new or empty)\n"
    "  --game-version V       incrementVersion, e.g. 1.0.3\n"
    "  --zip-version V        zipVersion (default: the game version)\n"
    "  --launcher-version V   launcherVersion\n"
    "  --mirror URL           base address of the server folder, ending in \"/\"; repeatable\n"
    "  --package-size-mb N    target size of one zip package in MiB (default 256)\n"
    "  --scramble             write the configuration values scrambled\n"
    "  --no-zip               useZip=False in the server configuration\n"
    "  --sign-key FILE        sign the release with this secret key: writes releasemanifest.txt and\n"
    "                         releasemanifest.sig beside launcherconfig.txt; repeatable (old and\n"
    "                         new key while launchers move to a new one); also writes\n"
    "                         acceptedrelease.txt there, for an installer to ship in Config\n"
    "  --valid-days N         a signed release holds for N days from now (default 30, at most\n"
    "                         3660); launchers refuse it afterwards: re-sign well before then\n"
    "  --previous DIR         an earlier release (its game tree, or a server folder this tool\n"
    "                         wrote): game files changed since get binary patches beside the\n"
    "                         whole files, listed in patchlist.txt; repeatable\n"
    "  --resign DIR           sign the release published in DIR again with fresh dates and\n"
    "                         nothing else changed (run it on a schedule); the manifest there\n"
    "                         must verify with the first --sign-key\n"
    "  --make-keys DIR        make a signing key pair: DIR/release.key (secret: keep it off the\n"
    "                         server) and DIR/release.pub (the launcher is built with its text as\n"
    "                         VOREL_RELEASE_PUBLIC_KEY)\n";

int Usage(const std::string& problem) {
  fprintf(stderr, "vorel-publish: %s\n\n%s", problem.c_str(), kUsage);
  return 2;
}

bool ParseMegabytes(const char* text, uint64_t& bytes) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0 || value > (UINT64_MAX >> 20)) return false;
  bytes = static_cast<uint64_t>(value) << 20;
  return true;
}

// Writes a new file only (a secret one readable by its owner alone): an existing key is never
// overwritten.
bool WriteNewFile(const std::wstring& path, const std::string& text, bool secret) {
  CreateDirectories(path);
  if (!secret && FileExists(path)) return false;
  FILE* file = secret ? CreatePrivateFile(path) : OpenFile(path, L"wb");
  if (!file) return false;
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && ok;
}

int MakeKeys(const std::string& dir) {
  const std::wstring secretPath = AnsiToWide(dir) + L"\\release.key", publicPath = AnsiToWide(dir) + L"\\release.pub";
  if (FileExists(secretPath) || FileExists(publicPath)) {
    fprintf(stderr, "vorel-publish: %s already holds a key; nothing was written\n", dir.c_str());
    return 2;
  }
  std::string publicKey, secretKey;
  if (!MakeSigningKeys(publicKey, secretKey) || !WriteNewFile(secretPath, secretKey + "\n", true) ||
      !WriteNewFile(publicPath, publicKey + "\n", false)) {
    fprintf(stderr, "vorel-publish: cannot make the key pair in %s\n", dir.c_str());
    return 2;
  }
  printf("secret key %s/release.key: sign releases with --sign-key; keep it off the server\n", dir.c_str());
  printf("public key %s\nbuild the launcher with -DVOREL_RELEASE_PUBLIC_KEY=%s\n", publicKey.c_str(),
         publicKey.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  PublishOptions options;
  std::string resignDir;
  bool haveGame = false, haveLauncher = false, haveOut = false;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (flag == "--scramble") {
      options.scramble = true;
      continue;
    }
    if (flag == "--no-zip") {
      options.useZip = false;
      continue;
    }
    if (i + 1 >= argc) return Usage(flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unknown argument " + flag);
    const char* value = argv[++i];
    // Arguments arrive in the narrow encoding the platform layer converts from.
    if (flag == "--game") {
      options.gameDir = AnsiToWide(value);
      haveGame = true;
    } else if (flag == "--launcher") {
      options.launcherDir = AnsiToWide(value);
      haveLauncher = true;
    } else if (flag == "--out") {
      options.outputDir = AnsiToWide(value);
      haveOut = true;
    } else if (flag == "--game-version") {
      options.gameVersion = value;
    } else if (flag == "--zip-version") {
      options.zipVersion = value;
    } else if (flag == "--launcher-version") {
      options.launcherVersion = value;
    } else if (flag == "--mirror") {
      options.mirrors.push_back(value);
    } else if (flag == "--previous") {
      options.previousDirs.push_back(AnsiToWide(value));
    } else if (flag == "--resign") {
      resignDir = value;
    } else if (flag == "--valid-days") {
      char* end = nullptr;
      errno = 0;
      long days = strtol(value, &end, 10);
      if (errno != 0 || *value < '0' || *value > '9' || *end != '\0' || days < 1 || days > kMaxValidDays)
        return Usage(std::string("--valid-days needs a whole number of days from 1 to ") +
                     std::to_string(kMaxValidDays) + ": " + value);
      options.validDays = static_cast<int>(days);
    } else if (flag == "--make-keys") {
      return MakeKeys(value);
    } else if (flag == "--sign-key") {
      std::string key;
      if (!ReadWholeFile(AnsiToWide(value), key)) return Usage(std::string("cannot read the signing key ") + value);
      key = key.substr(0, key.find_first_of("\r\n"));
      if (PublicKeyOf(key).empty()) return Usage(std::string(value) + " is not a secret key made by --make-keys");
      options.signingKeys.push_back(key);
    } else if (flag == "--package-size-mb") {
      if (!ParseMegabytes(value, options.packageSize))
        return Usage(std::string("--package-size-mb needs a whole number of MiB, at least 1: ") + value);
    } else {
      return Usage("unknown argument " + flag);
    }
  }
  if (!resignDir.empty()) {
    if (options.signingKeys.empty()) return Usage("--resign needs --sign-key");
    std::string error = ResignRelease(AnsiToWide(resignDir), options.signingKeys, options.validDays);
    if (!error.empty()) {
      fprintf(stderr, "vorel-publish: %s\nvorel-publish: nothing was changed\n", error.c_str());
      return 2;
    }
    printf("re-signed %s/%sreleasemanifest.txt for %d days\n", resignDir.c_str(), PublishedLauncherFolder().c_str(),
           options.validDays);
    return 0;
  }
  if (!haveGame) return Usage("--game is missing");
  if (!haveLauncher) return Usage("--launcher is missing");
  if (!haveOut) return Usage("--out is missing");
  if (options.gameVersion.empty()) return Usage("--game-version is missing");
  if (options.launcherVersion.empty()) return Usage("--launcher-version is missing");
  if (options.mirrors.empty()) return Usage("--mirror is missing");

  options.progress = [](const std::string& step) {
    printf("  %s\n", step.c_str());
    fflush(stdout);
  };
  PublishResult result = Publish(options);
  if (!result.ok) {
    fprintf(stderr, "vorel-publish: %s\n", result.error.c_str());
    fprintf(stderr, "vorel-publish: nothing was published\n");
    return 2;
  }
  for (const auto& note : result.notes) printf("note: %s\n", note.c_str());
  const std::string out = WideToAnsi(options.outputDir);
  const std::string zipVersion = options.zipVersion.empty() ? options.gameVersion : options.zipVersion;
  printf("game %s (zip version %s, useZip=%s): files %d, bytes %llu, zip packages %d\n", options.gameVersion.c_str(),
         zipVersion.c_str(), options.useZip ? "True" : "False", result.files,
         static_cast<unsigned long long>(result.bytes), result.packages);
  if (!options.previousDirs.empty())
    printf("patches %d for %d changed files, %llu bytes instead of %llu: %s/%s%s\n", result.patches,
           result.changedFiles, static_cast<unsigned long long>(result.patchBytes),
           static_cast<unsigned long long>(result.changedBytes), out.c_str(),
           PublishedGameFolder(options.gameVersion).c_str(), "patchlist.txt");
  printf("launcher %s: package VORELLauncher_%s.zip\n", options.launcherVersion.c_str(),
         options.launcherVersion.c_str());
  printf("configuration%s: %s/%sserverconfig.txt and launcherconfig.txt\n", options.scramble ? " (scrambled)" : "",
         out.c_str(), PublishedLauncherFolder().c_str());
  for (const auto& key : options.signingKeys)
    printf("signed: %s/%sreleasemanifest.txt and releasemanifest.sig, public key %s\n", out.c_str(),
           PublishedLauncherFolder().c_str(), PublicKeyOf(key).c_str());
  printf("serve %s as the root of every mirror; the launcher starts at %s%slauncherconfig.txt\n", out.c_str(),
         options.mirrors.front().c_str(), PublishedLauncherFolder().c_str());
  return 0;
}
