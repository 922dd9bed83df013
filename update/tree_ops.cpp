#include "update/tree_ops.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "update/patcher.h"

namespace {

bool IsDotName(const std::wstring& name) { return !name.empty() && name[0] == L'.'; }

void LogDeleteFileFailure(Patcher& patcher, const std::wstring& path) {
  uint32_t code = LastErrorCode();
  patcher.logger.error("Delete file failed! error = " + std::to_string(code) + "  FileName = " + WideToAnsi(path));
}

struct DeleteProgress {
  const std::wstring* prefix;
  int64_t* deleted;
  int64_t* total;
};

bool DeleteTreeImpl(Patcher& patcher, const std::wstring& dir, const DeleteProgress* progress) {
  if (!DirectoryExists(dir)) return true;
  bool listed = ForEachChild(dir, [&](const std::wstring& child, const DirectoryEntry& entry) {
    if (entry.isDirectory && entry.isLink) {
      // A junction or folder link: only the link goes, never what it points to.
      if (!RemoveEmptyDirectory(child)) LogDeleteFileFailure(patcher, child);
      return true;
    }
    if (entry.isDirectory) {
      if (!IsDotName(entry.name)) DeleteTreeImpl(patcher, child, progress);
      return true;
    }
    if (progress && !entry.isLink) {
      uint64_t size = 0;
      // A file that cannot be opened for measuring is left alone; its folder then stays too.
      if (!OpenedFileSize(child, size)) return true;
      *progress->deleted += static_cast<int64_t>(size);
      if (*progress->total != 0) {
        int64_t percent = *progress->deleted * 100 / *progress->total;
        patcher.statusText = *progress->prefix + L" ( " + std::to_wstring(percent) + L"% )";
      }
    }
    if (!RemoveFile(child)) LogDeleteFileFailure(patcher, child);
    return true;
  });
  if (!listed) return false;
  if (!RemoveEmptyDirectory(dir)) {
    uint32_t code = LastErrorCode();
    patcher.logger.error("Delete directory failed! error = " + std::to_string(code) +
                         "  Directory = " + WideToAnsi(dir));
    return false;
  }
  return true;
}

}  // namespace

uint64_t DirectorySize(std::wstring dir) {
  uint64_t total = 0;
  ForEachChild(dir, [&](const std::wstring& child, const DirectoryEntry& entry) {
    if (entry.isDirectory) {
      if (!IsDotName(entry.name) && !entry.isLink) total += DirectorySize(child);
    } else {
      uint64_t size = 0;
      if (OpenedFileSize(child, size)) total += size;
    }
    return true;
  });
  return total;
}

bool CopyTree(std::wstring source, std::wstring destination) {
  // The destination itself too, not only its parents: copying into a folder that does not
  // exist yet must not fail on its first file.
  CreateDirectories(EndsWithSeparator(destination) ? destination : destination + L"\\");
  bool ok = true;
  ForEachChild(source, [&](const std::wstring& child, const DirectoryEntry& entry) {
    // Links are not copied: what they point to lies outside the tree, and a link in a staging
    // folder was put there by no update of ours.
    if (IsDotName(entry.name) || entry.isLink) return true;
    std::wstring target = destination + (EndsWithSeparator(destination) ? L"" : L"\\") + entry.name;
    if (entry.isDirectory) {
      CreateDirectories(target + L"\\");
      ok = CopyTree(child, target);
    } else {
      ok = CopyFileOver(child, target);
    }
    return ok;
  });
  return ok;
}

bool DeleteTree(Patcher& patcher, std::wstring dir) { return DeleteTreeImpl(patcher, dir, nullptr); }

bool DeleteTreeWithProgress(Patcher& patcher, std::wstring dir, const std::wstring& statusPrefix,
                            int64_t* deletedBytes, int64_t* totalBytes) {
  DeleteProgress progress{&statusPrefix, deletedBytes, totalBytes};
  return DeleteTreeImpl(patcher, dir, &progress);
}

bool HasEnoughDiskSpace(Patcher& patcher, std::wstring path, uint64_t requiredBytes) {
  uint64_t available = 0;
  if (!FreeDiskSpace(path, available)) {
    patcher.logger.error("Disk not readable! " + WideToAnsi(path));
    return false;
  }
  patcher.logger.info("Avaliable space : " + std::to_string(available) +
                      " Required space : " + std::to_string(requiredBytes));
  return available > requiredBytes;
}
