// Paths and files. Paths are wide and use backslashes, as on Windows; the Linux build treats
// "\" and "/" alike and maps "\" to "/" at this boundary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

std::wstring ModulePath();
std::wstring ModuleDirectory();
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates every directory before the last separator of path (a trailing separator creates
// the whole chain). "Already exists" and "access denied" are not failures.
bool CreateDirectories(const std::wstring& path);

// The narrow form of a path that C library calls taking narrow names (minizip's fopen) accept:
// the ANSI code page on Windows; UTF-8 with "/" separators on Linux.
std::string NarrowFileSystemPath(const std::wstring& path);

// C library file streams on wide paths. "b" modes are binary; text mode translates line
// ends on Windows. OpenSharedFile lets other processes read and write while it is open.
FILE* OpenFile(const std::wstring& path, const wchar_t* mode);
FILE* OpenSharedFile(const std::wstring& path, const wchar_t* mode);
// A new file for binary writing that only its owner may read (mode 0600 here; on Windows the
// folder's inherited permissions): null, and nothing touched, when the path already exists.
FILE* CreatePrivateFile(const std::wstring& path);
// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string& content);

bool RemoveFile(const std::wstring& path);           // DeleteFileW
int RemoveFileCrt(const std::wstring& path);         // _wremove: 0 or -1
bool RemoveEmptyDirectory(const std::wstring& path); // RemoveDirectoryW
bool MakeDirectory(const std::wstring& path);        // CreateDirectoryW
bool CopyFileOver(const std::wstring& from, const std::wstring& to);  // CopyFileW, overwriting
int RenamePath(const std::wstring& from, const std::wstring& to);     // _wrename: 0 or -1
// Opens for reading (shared for reading) and reads the size; false when it cannot be opened.
bool OpenedFileSize(const std::wstring& path, uint64_t& size);
// Bytes available to the caller on the disk of path.
bool FreeDiskSpace(const std::wstring& path, uint64_t& available);
// 64-bit position helpers for FILE streams.
bool SeekFile(FILE* file, int64_t offset, int origin);
int64_t TellFile(FILE* file);

// One directory listing, "." and ".." included, as FindFirstFileW/FindNextFileW give it.
struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;
  // A symbolic link, or on Windows also a junction (a name-surrogate reparse point): the entry
  // itself, not what it points to. A link to a folder is a directory on Windows, a file here.
  bool isLink = false;
};
class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;
  // pattern: a directory, a backslash and "*.*".
  bool open(const std::wstring& pattern);
  bool next(DirectoryEntry& entry);
  void close();

 private:
  void* handle_ = nullptr;
  std::string nativeDir_;      // Linux: the directory being listed
  [[maybe_unused]] bool havePending_ = false;  // Windows: FindFirstFileW already returned an entry
  DirectoryEntry pending_;
};

// The pattern for listing dir: dir, a backslash unless it already ends in a separator, "*.*".
std::wstring ListingPattern(const std::wstring& dir);
// Lists dir and calls visit(childPath, entry) for each entry but "." and "..", until visit
// returns false; false when dir cannot be listed.
template <typename Visit>
bool ForEachChild(const std::wstring& dir, Visit visit) {
  const std::wstring pattern = ListingPattern(dir);
  DirectoryListing listing;
  if (!listing.open(pattern)) return false;
  const std::wstring base = pattern.substr(0, pattern.size() - 3);
  DirectoryEntry entry;
  while (listing.next(entry)) {
    if (entry.name == L"." || entry.name == L"..") continue;
    if (!visit(base + entry.name, entry)) break;
  }
  return true;
}
bool EndsWithSeparator(const std::wstring& path);
