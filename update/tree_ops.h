// Measuring, copying and deleting directory trees, and checking free disk space. Failures are
// reported by the result and, for deletions, by one Error line per item that stays.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class Patcher;

uint64_t DirectorySize(std::wstring dir);
bool CopyTree(std::wstring source, std::wstring destination);
bool DeleteTree(Patcher& patcher, std::wstring dir);
// As DeleteTree, showing statusPrefix + " ( N% )" as the deleted bytes grow.
bool DeleteTreeWithProgress(Patcher& patcher, std::wstring dir, const std::wstring& statusPrefix,
                            int64_t* deletedBytes, int64_t* totalBytes);
bool HasEnoughDiskSpace(Patcher& patcher, std::wstring path, uint64_t requiredBytes);
