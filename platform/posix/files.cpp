#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/posix/native_path.h"

namespace {

std::string NarrowMode(const wchar_t* mode) {
  std::string narrow;
  for (; *mode; ++mode) narrow.push_back(static_cast<char>(*mode));
  return narrow;
}

}  // namespace

std::wstring ModulePath() {
  std::vector<char> buffer(260);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::wstring();
    if (static_cast<size_t>(n) < buffer.size()) return AnsiToWide(std::string(buffer.data(), n));
    buffer.resize(buffer.size() + 260);
  }
}

bool FileExists(const std::wstring& path) {
  struct stat st;
  return stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::wstring& path) {
  struct stat st;
  return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::wstring& path) {
  if (FaultHits(FaultCall::CreateDirectory, path)) return false;
  return mkdir(NativePath(path).c_str(), 0777) == 0;
}

std::string NarrowFileSystemPath(const std::wstring& path) { return NativePath(path); }

FILE* OpenFile(const std::wstring& path, const wchar_t* mode) {
  if (FaultHits(FaultCall::OpenFile, path)) return nullptr;
  FILE* file = fopen(NativePath(path).c_str(), NarrowMode(mode).c_str());
  if (file) {
    // fopen opens directories for reading on Linux; Windows refuses them.
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
      fclose(file);
      errno = EISDIR;
      return nullptr;
    }
  }
  return file;
}

FILE* CreatePrivateFile(const std::wstring& path) {
  int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

FILE* OpenSharedFile(const std::wstring& path, const wchar_t* mode) { return OpenFile(path, mode); }

bool RemoveFile(const std::wstring& path) {
  if (FaultHits(FaultCall::DeleteFile, path)) return false;
  // unlink refuses directories (EISDIR) as DeleteFileW does.
  return unlink(NativePath(path).c_str()) == 0;
}

int RemoveFileCrt(const std::wstring& path) { return RemoveFile(path) ? 0 : -1; }

bool RemoveEmptyDirectory(const std::wstring& path) {
  if (FaultHits(FaultCall::RemoveDirectory, path)) return false;
  return rmdir(NativePath(path).c_str()) == 0;
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
  if (FaultHits(FaultCall::CopyFile, to)) return false;
  int in = open(NativePath(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    int code = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(in);
    errno = code;
    return false;
  }
  // Copied beside the destination first and then renamed over it: a copy cut short (a full disk,
  // the process killed) never leaves a half-written file where a whole one was.
  const std::string part = NativePath(to) + ".vorel-part";
  int out = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    int code = errno;
    close(in);
    errno = code;
    return false;
  }
  bool ok = true;
  off_t remaining = st.st_size;
  while (remaining > 0) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(remaining), 0);
    if (n > 0) {
      remaining -= n;
      continue;
    }
    if (n == 0) break;  // the source shrank
    if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
      ok = false;
      break;
    }
    // No in-kernel copy between these file systems: plain reads and writes.
    std::vector<char> buffer(1 << 20);
    ssize_t r;
    while (ok && (r = read(in, buffer.data(), buffer.size())) > 0) {
      for (ssize_t done = 0; done < r;) {
        ssize_t w = write(out, buffer.data() + done, static_cast<size_t>(r - done));
        if (w <= 0) { ok = false; break; }
        done += w;
      }
    }
    break;
  }
  int code = errno;
  close(in);
  if (close(out) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && rename(part.c_str(), NativePath(to).c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    unlink(part.c_str());
    errno = code;
  }
  return ok;
}

int RenamePath(const std::wstring& from, const std::wstring& to) {
  if (FaultHits(FaultCall::Rename, from)) return -1;
  // As _wrename on Windows: an existing destination is never replaced.
  if (renameat2(AT_FDCWD, NativePath(from).c_str(), AT_FDCWD, NativePath(to).c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  return -1;
}

bool OpenedFileSize(const std::wstring& path, uint64_t& size) {
  if (FaultHits(FaultCall::FileSize, path)) return false;
  int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok) size = static_cast<uint64_t>(st.st_size);
  close(fd);
  return ok;
}

bool FreeDiskSpace(const std::wstring& path, uint64_t& available) {
  if (FaultHits(FaultCall::DiskFree, path)) return false;
  if (FreeDiskSpaceOverride(available)) return true;
  struct statvfs st;
  if (statvfs(NativePath(path).c_str(), &st) != 0) return false;
  available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

bool SeekFile(FILE* file, int64_t offset, int origin) { return fseeko(file, offset, origin) == 0; }
int64_t TellFile(FILE* file) { return ftello(file); }

DirectoryListing::~DirectoryListing() { close(); }

bool DirectoryListing::open(const std::wstring& pattern) {
  close();
  std::wstring dir = pattern;
  if (dir.size() >= 3 && dir.compare(dir.size() - 3, 3, L"*.*") == 0) dir.resize(dir.size() - 3);
  if (dir.empty()) dir = L".";
  DIR* d = opendir(NativePath(dir).c_str());
  if (!d) return false;
  handle_ = d;
  nativeDir_ = NativePath(dir);
  return true;
}

bool DirectoryListing::next(DirectoryEntry& entry) {
  if (!handle_) return false;
  for (;;) {
    errno = 0;
    dirent* e = readdir(static_cast<DIR*>(handle_));
    if (!e) return false;
    entry.name = AnsiToWide(e->d_name);
    entry.isLink = e->d_type == DT_LNK;
    if (e->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else if (e->d_type == DT_UNKNOWN) {
      // Links count as files: deleting a tree must never follow one out of the tree.
      struct stat st;
      std::string child = nativeDir_ + "/" + e->d_name;
      bool known = lstat(child.c_str(), &st) == 0;
      entry.isDirectory = known && S_ISDIR(st.st_mode);
      entry.isLink = known && S_ISLNK(st.st_mode);
    } else {
      entry.isDirectory = false;
    }
    return true;
  }
}

void DirectoryListing::close() {
  if (handle_) closedir(static_cast<DIR*>(handle_));
  handle_ = nullptr;
}
