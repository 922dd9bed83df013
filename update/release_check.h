// The launcher's side of signed releases: which manifest a run accepts, and the hashes it hands
// to the lists. Used only by a build with a release key.
#pragma once

#include <string>
#include <vector>

#include "update/file_list.h"

class Patcher;

// Tries the manifest and signature at each address pair in turn and keeps the first manifest
// that is signed with the patcher's key, reads back whole and is not older than the release this
// installation last accepted. False when no address has one.
bool AcceptRelease(Patcher& patcher, const std::wstring& installDir, const std::vector<std::string>& manifestUrls,
                   const std::vector<std::string>& signatureUrls);
// Gives each entry the manifest's SHA-256 of its file; false (and a log line) when an entry is
// not in the manifest, or with another size.
bool AttachReleaseHashes(Patcher& patcher, std::vector<FileListEntry>& entries);
bool AttachReleaseHashes(Patcher& patcher, std::vector<ZipListEntry>& entries);
