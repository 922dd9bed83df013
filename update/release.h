// Signed releases. The publisher writes a manifest beside launcherconfig.txt: the release's
// versions, when it was signed and until when it holds, the SHA-256 of both configuration texts and both lists, and size and SHA-256 of the
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
  // Seconds since 1970 (UTC). A manifest past its expiry is refused, and so is one issued before
  // the release this installation last accepted: a replayed manifest cannot freeze the game.
  int64_t issued = 0, expires = 0;
  std::map<std::string, std::string> texts;  // launcherconfig.txt, serverconfig.txt, filelist.txt, ziplist.txt
  std::string launcherPath;                  // the launcher package as launcherZipInfo names it
  ReleaseItem launcherPackage;
  std::map<std::string, ReleaseItem> packages;  // by their path in the zip list
  std::map<std::string, ReleaseItem> files;     // by their path in the file list
};

std::string FormatReleaseManifest(const ReleaseManifest& manifest);
// Strict: any line out of shape makes the whole manifest unreadable (problem says which).
bool ParseReleaseManifest(const std::string& text, ReleaseManifest& manifest, std::string& problem);

// "2026-12-08T02:12:34Z" and back; false for anything else (or a time before 1970).
std::string FormatUtcTime(int64_t seconds);
bool ParseUtcTime(const std::string& text, int64_t& seconds);

// Installation\Config\acceptedrelease.txt: the launcher and game versions of the last release
// this installation accepted, and the newest issue time seen (0 in a record written before
// manifests carried one).
struct AcceptedRelease {
  Version launcher, game;
  int64_t issued = 0;
};
// False when there is none (or it is unreadable).
bool ReadAcceptedRelease(const std::wstring& installDir, AcceptedRelease& record);
// The record's text: what the publisher ships for a first installation and the launcher keeps.
std::string FormatAcceptedRelease(const ReleaseManifest& manifest);
bool WriteAcceptedRelease(const std::wstring& installDir, const ReleaseManifest& manifest);
