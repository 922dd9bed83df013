#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>

#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

std::wstring ModulePath() {
  std::vector<wchar_t> buffer(260);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() + 260);
  }
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectory(const std::wstring& path) {
  if (FaultHits(FaultCall::CreateDirectory, path)) return false;
  return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

std::string NarrowFileSystemPath(const std::wstring& path) { return WideToAnsi(path); }

FILE* OpenFile(const std::wstring& path, const wchar_t* mode) {
  if (FaultHits(FaultCall::OpenFile, path)) return nullptr;
  return _wfopen(path.c_str(), mode);
}

FILE* OpenSharedFile(const std::wstring& path, const wchar_t* mode) {
  if (FaultHits(FaultCall::OpenFile, path)) return nullptr;
  return _wfsopen(path.c_str(), mode, _SH_DENYNO);
}

FILE* CreatePrivateFile(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

bool RemoveFile(const std::wstring& path) {
  if (FaultHits(FaultCall::DeleteFile, path)) return false;
  return DeleteFileW(path.c_str()) != 0;
}

int RemoveFileCrt(const std::wstring& path) {
  if (FaultHits(FaultCall::DeleteFile, path)) return -1;
  return _wremove(path.c_str());
}

bool RemoveEmptyDirectory(const std::wstring& path) {
  if (FaultHits(FaultCall::RemoveDirectory, path)) return false;
  return RemoveDirectoryW(path.c_str()) != 0;
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
  if (FaultHits(FaultCall::CopyFile, to)) return false;
  // Copied beside the destination first and then moved over it: a copy cut short (a full disk,
  // the process killed) never leaves a half-written file where a whole one was.
  const std::wstring part = to + L".vorel-part";
  if (!CopyFileW(from.c_str(), part.c_str(), FALSE) ||
      !MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DWORD code = GetLastError();
    DeleteFileW(part.c_str());
    SetLastError(code);
    return false;
  }
  return true;
}

int RenamePath(const std::wstring& from, const std::wstring& to) {
  if (FaultHits(FaultCall::Rename, from)) return -1;
  return _wrename(from.c_str(), to.c_str());
}

bool OpenedFileSize(const std::wstring& path, uint64_t& size) {
  if (FaultHits(FaultCall::FileSize, path)) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER value;
  bool ok = GetFileSizeEx(file, &value) != 0;
  if (ok) size = static_cast<uint64_t>(value.QuadPart);
  CloseHandle(file);
  return ok;
}

bool FreeDiskSpace(const std::wstring& path, uint64_t& available) {
  if (FaultHits(FaultCall::DiskFree, path)) return false;
  if (FreeDiskSpaceOverride(available)) return true;
  ULARGE_INTEGER forCaller;
  if (!GetDiskFreeSpaceExW(path.c_str(), &forCaller, nullptr, nullptr)) return false;
  available = forCaller.QuadPart;
  return true;
}

bool SeekFile(FILE* file, int64_t offset, int origin) { return _fseeki64(file, offset, origin) == 0; }
int64_t TellFile(FILE* file) { return _ftelli64(file); }

namespace {

// Symbolic links, junctions and other reparse points that name another place; reparse points
// that only store data differently (dedup, cloud placeholders) hold the file itself.
bool IsLink(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(data.dwReserved0);
}

}  // namespace

DirectoryListing::~DirectoryListing() { close(); }

bool DirectoryListing::open(const std::wstring& pattern) {
  close();
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  pending_.name = data.cFileName;
  pending_.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  pending_.isLink = IsLink(data);
  havePending_ = true;
  return true;
}

bool DirectoryListing::next(DirectoryEntry& entry) {
  if (!handle_) return false;
  if (havePending_) {
    havePending_ = false;
    entry = pending_;
    return true;
  }
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(static_cast<HANDLE>(handle_), &data)) return false;
  entry.name = data.cFileName;
  entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.isLink = IsLink(data);
  return true;
}

void DirectoryListing::close() {
  if (handle_) FindClose(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  havePending_ = false;
}
