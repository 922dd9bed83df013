// Signed releases. The publisher writes a manifest beside launcherconfig.txt: the release's
// versions, the SHA-256 of both configuration texts and both lists, and size and SHA-256 of the
// launcher package, every zip package and every game file; and a detached Ed25519 signature of
// it. A launcher built with the public key takes nothing from the server that the manifest does
// not vouch for.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "update/config.h"

struct ReleaseItem {
  uint64_t size = 0;
  std::string sha256;
};

struct ReleaseManifest {
  Version launcherVersion, zipVersion, incrementVersion;
  std::map<std::string, std::string> texts;  // launcherconfig.txt, serverconfig.txt, filelist.txt, ziplist.txt
  std::string launcherPath;                  // the launcher package as launcherZipInfo names it
  ReleaseItem launcherPackage;
  std::map<std::string, ReleaseItem> packages;  // by their path in the zip list
  std::map<std::string, ReleaseItem> files;     // by their path in the file list
};

std::string FormatReleaseManifest(const ReleaseManifest& manifest);
// Strict: any line out of shape makes the whole manifest unreadable (problem says which).
bool ParseReleaseManifest(const std::string& text, ReleaseManifest& manifest, std::string& problem);

// Release order: major, then minor, then patch.
bool VersionIsLower(const Version& a, const Version& b);
// Installation\Config\acceptedrelease.txt: the launcher and game versions of the last release
// this installation accepted. False when there is none (or it is unreadable).
bool ReadAcceptedRelease(const std::wstring& installDir, Version& launcher, Version& game);
bool WriteAcceptedRelease(const std::wstring& installDir, const ReleaseManifest& manifest);
