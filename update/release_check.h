// The launcher's side of signed releases: which manifest a run accepts, and the hashes it hands
// to the lists. Used only by a build with a release key.
#pragma once

#include <string>
#include <vector>

#include "update/config.h"
#include "update/file_list.h"

class Patcher;

// How long past its expiry a manifest is still taken: a player's clock that is a little ahead
// must not lock the game out.
constexpr int64_t kReleaseClockToleranceSeconds = 24 * 3600;

enum class ReleaseEnd { Accepted, Refused, Expired };

// Tries the manifest and signature at each address pair in turn and keeps the first manifest
// that is signed with the patcher's key, reads back whole, has not expired (by the clock `now`)
// and is neither older than the release this installation last accepted nor than the launcher
// that runs (ownLauncher, when known), nor issued before the accepted one. Expired when no
// address had one and the last refusal was an expiry: the player's clock may be wrong.
ReleaseEnd AcceptRelease(Patcher& patcher, const std::wstring& installDir, const Version& ownLauncher, int64_t now,
                         const std::vector<std::string>& manifestUrls, const std::vector<std::string>& signatureUrls);
// Gives each entry the manifest's SHA-256 of its file; false (and a log line) when an entry is
// not in the manifest, or with another size.
bool AttachReleaseHashes(Patcher& patcher, std::vector<FileListEntry>& entries);
bool AttachReleaseHashes(Patcher& patcher, std::vector<ZipListEntry>& entries);
