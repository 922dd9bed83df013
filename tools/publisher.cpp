#include "tools/publisher.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cwctype>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "platform/files.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/sha256.h"
#include "support/signature.h"
#include "support/text_util.h"
#include "update/config.h"
#include "update/file_list.h"
#include "update/patch_list.h"
#include "update/patcher.h"
#include "update/release.h"
#include "update/tree_ops.h"
#include "update/verify.h"

#include "tools/patch_maker.h"
#include "update/binary_patch.h"

namespace {

const std::string kProductFolder = "production/vorel_pql_win/";
const std::string kGameFolder = WideToAnsi(GameFolderName);

// Entries of every archive carry this time stamp (2020-01-01 00:00:00 in MS-DOS form), so that
// the same input always gives the same bytes.
constexpr uLong kDosDate = ((2020 - 1980) << 25) | (1 << 21) | (1 << 16);
constexpr int kCompressionLevel = 6;
// From this size on an entry gets zip64 headers; the margin covers deflate's worst-case growth.
constexpr uint64_t kZip64From = 0xFF000000ull;
constexpr uint64_t kMaxListedSize = 0xFFFFFFFFull;  // the file list's size field is 32-bit
// Archives of several files stay below 4 GiB, so that no entry needs a zip64 offset: the unzip
// of older minizip releases (Debian's among them) misreads those on 64-bit Linux.
constexpr uint64_t kMaxArchiveContent = 4000ull << 20;
constexpr size_t kBufferSize = 1 << 20;
// A patch is published for files of at least this size, when it takes at most half the file;
// anything less saves the player too little to be worth a second way of updating.
constexpr uint64_t kPatchFrom = 4096;
constexpr int kPatchLevel = 19;  // zstd level: patches are made once and fetched by every player

struct PublishError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& message) { throw PublishError(message); }

// Text for messages: quoted, control bytes shown as \xNN.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Shown(const std::wstring& path) { return Quoted(WideToAnsi(path)); }

std::string CrcText(uint32_t crc) {
  char text[9];
  snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
  return text;
}

std::wstring Join(const std::wstring& dir, const std::wstring& relative) { return dir + L"\\" + relative; }

// "a/b" -> L"a\\b", for output paths of published names.
std::wstring WidePath(const std::string& path) { return AnsiToWide(ReplaceAll(path, "/", "\\")); }

// ---- checks of the inputs -------------------------------------------------------------------

Version CheckVersion(const std::string& text, const std::string& what) {
  Version version = ParseVersion(text);
  // The canonical form only: the folders of the layout are named by the formatted version.
  if (!IsValidVersion(version) || FormatVersion(version) != text)
    Fail(what + " " + Quoted(text) +
         " is not a version: three decimal numbers joined by \".\", without leading zeros, the first at least 1 "
         "(e.g. 1.0.3)");
  return version;
}

void CheckMirror(const std::string& mirror) {
  const std::string what = "mirror " + Quoted(mirror) + ": ";
  for (unsigned char c : mirror) {
    if (c <= 0x20 || c >= 0x7F)
      Fail(what + "spaces, control characters and non-ASCII bytes cannot stand in an address list; "
                  "percent-encode them");
    if (c == '$') Fail(what + "\"$\" separates the addresses of a list");
    if (c == '#' || c == ';') Fail(what + "\"#\" and \";\" start a comment in the configuration texts");
  }
  if (mirror.find("https") != std::string::npos)
    Fail(what + "the launcher replaces every \"https\" in an address by \"http\"; give the address it reaches "
                "over http");
  size_t hostStart = mirror.compare(0, 7, "http://") == 0 ? 7 : mirror.compare(0, 6, "ftp://") == 0 ? 6 : 0;
  if (hostStart == 0) Fail(what + "must start with http:// or ftp://");
  if (mirror.size() <= hostStart || mirror[hostStart] == '/') Fail(what + "has no host");
  if (mirror.back() != '/') Fail(what + "must end with \"/\": file names are appended to it as they are");
}

// Why one name (a file or folder of a published path) cannot be published; empty when it can.
std::string NameProblem(const std::string& narrow) {
  for (unsigned char c : narrow) {
    if (c < 0x20 || c == 0x7F) return "control characters are not allowed";
    switch (c) {
      case '=':
      case '$':
        return std::string("\"") + static_cast<char>(c) + "\" separates the fields of the list texts";
      case '#':
      case '?':
      case '%':
        return std::string("\"") + static_cast<char>(c) +
               "\" would change the meaning of the download address (the launcher does not encode it)";
      case ':':
        return "\":\" names a drive or a stream on Windows";
      case '\\':
        return "a backslash separates folders on Windows";
      case '*':
      case '"':
      case '<':
      case '>':
      case '|':
        return std::string("\"") + static_cast<char>(c) + "\" is not allowed in Windows file names";
      default:
        break;
    }
  }
  if (narrow.back() == '.' || narrow.back() == ' ') return "Windows drops a trailing dot or space from names";
  if (IsReservedDeviceName(narrow)) return "the name is reserved for a device on Windows";
  return "";
}

// The launcher's tree copy and deletion skip names that start with ".", so such files would
// never reach or leave the game folder.
std::string GameNameProblem(const std::string& narrow) {
  if (narrow[0] == '.') return "the launcher's tree copy skips names that start with \".\"";
  return NameProblem(narrow);
}

// The self-update script names the launcher's files, quoted, on cmd.exe command lines; the
// launcher refuses a package with a name the script could not carry.
std::string LauncherNameProblem(const std::string& narrow) {
  std::string problem = NameProblem(narrow);
  if (!problem.empty()) return problem;
  problem = ScriptNameProblem(narrow);
  return problem.empty() ? "" : "the self-update script could not name it: " + problem;
}

// The narrow form of a name, which the lists and archives carry. Names the narrow (ANSI) code
// page cannot hold are refused; the message shows their characters as \uXXXX.
std::string NarrowName(const std::wstring& wide, const std::string& parent, const std::string& kind) {
  std::string narrow = WideToAnsi(wide);
  if (AnsiToWide(narrow) == wide) return narrow;
  std::string shown;
  for (wchar_t c : wide) {
    std::wstring one(1, c);
    std::string piece = WideToAnsi(one);
    if (AnsiToWide(piece) != one) {
      char escape[16];
      snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      piece = escape;
    }
    shown += piece;
  }
  Fail(kind + Quoted(parent.empty() ? shown : parent + "/" + shown) +
       ": the name cannot be written in this system's narrow (ANSI) code page");
}

// Devices, pipes and sockets have no place in a release (links are caught by the listing).
// Windows folders hold none of them.
bool IsPlainEntry(const std::wstring& path, bool directory) {
#ifdef _WIN32
  (void)path;
  (void)directory;
  return true;
#else
  std::error_code error;
  auto status = std::filesystem::symlink_status(ReplaceAll(WideToAnsi(path), "\\", "/"), error);
  if (error) return false;
  return directory ? std::filesystem::is_directory(status) : std::filesystem::is_regular_file(status);
#endif
}

struct ListedEntry {
  std::wstring name;
  bool isDirectory = false;
  bool isLink = false;  // symbolic link or junction
};

std::vector<ListedEntry> ListFolder(const std::wstring& dir, const std::string& what) {
  std::vector<ListedEntry> entries;
  bool listed = ForEachChild(dir, [&](const std::wstring&, const DirectoryEntry& entry) {
    entries.push_back({entry.name, entry.isDirectory, entry.isLink});
    return true;
  });
  if (!listed) Fail("cannot list " + what + " " + Shown(dir));
  return entries;
}

// A link is never followed: what it points to may lie outside the folder being published.
std::string LinkRefusal(const std::string& folder, const std::string& quotedPath) {
  return quotedPath + " in the " + folder + " is a symbolic link or junction; links are not followed, so that "
         "nothing from outside the " + folder + " is published: put the files themselves there";
}

// ---- the inputs -------------------------------------------------------------------------------

struct SourceFile {
  std::wstring source;    // full path of the input
  std::wstring relative;  // below the game or launcher folder, with backslashes
  std::string path;       // as published: narrow, "/" separators
  uint64_t size = 0;
  uint32_t crc = 0;
  std::string sha256;  // signed releases only
};

uint64_t InputSize(const std::wstring& path, const std::string& what) {
  uint64_t size = 0;
  if (!OpenedFileSize(path, size)) Fail("cannot open " + what);
  return size;
}

void CollectGameFolder(const std::wstring& root, const std::wstring& relative, const std::string& path,
                       std::vector<SourceFile>& files, PublishResult& result) {
  std::vector<ListedEntry> entries = ListFolder(relative.empty() ? root : Join(root, relative), "the game folder");
  if (entries.empty() && !relative.empty())
    result.notes.push_back("empty game folder " + Quoted(path) + " is not published (the lists name files only)");
  for (const auto& entry : entries) {
    std::string name = NarrowName(entry.name, path, entry.isDirectory ? "game folder " : "game file ");
    std::wstring childRelative = relative.empty() ? entry.name : Join(relative, entry.name);
    std::string childPath = path.empty() ? name : path + "/" + name;
    if (entry.isLink) Fail(LinkRefusal("game folder", Quoted(childPath)));
    std::string what = std::string(entry.isDirectory ? "game folder " : "game file ") + Quoted(childPath);
    std::string problem = GameNameProblem(name);
    if (!problem.empty()) Fail(what + ": " + problem);
    std::wstring source = Join(root, childRelative);
    if (!IsPlainEntry(source, entry.isDirectory))
      Fail(what + " is a device, pipe or socket; only plain files and folders are published");
    if (entry.isDirectory) {
      CollectGameFolder(root, childRelative, childPath, files, result);
      continue;
    }
    SourceFile file;
    file.source = source;
    file.relative = childRelative;
    file.path = childPath;
    file.size = InputSize(source, what);
    if (file.size > kMaxListedSize)
      Fail(what + " has " + std::to_string(file.size) +
           " bytes; the file list holds sizes up to 4294967295 bytes (4 GiB - 1)");
    files.push_back(std::move(file));
  }
}

std::wstring LowerCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

// Windows folders ignore case: two names that differ only in case would overwrite each other.
void CheckCaseClashes(const std::vector<SourceFile>& files, const std::string& what) {
  std::vector<std::pair<std::wstring, const SourceFile*>> lowered;
  for (const auto& file : files) lowered.emplace_back(LowerCase(file.relative), &file);
  std::sort(lowered.begin(), lowered.end());
  for (size_t i = 1; i < lowered.size(); ++i) {
    if (lowered[i].first == lowered[i - 1].first)
      Fail(what + Quoted(lowered[i - 1].second->path) + " and " + Quoted(lowered[i].second->path) +
           " differ only in case; Windows keeps one of them");
  }
}

std::vector<SourceFile> CollectGame(const std::wstring& gameDir, PublishResult& result) {
  if (!DirectoryExists(gameDir)) Fail("game folder " + Shown(gameDir) + " does not exist");
  std::vector<SourceFile> files;
  CollectGameFolder(gameDir, L"", "", files, result);
  if (files.empty()) Fail("game folder " + Shown(gameDir) + " holds no files");
  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
  CheckCaseClashes(files, "game files ");
  const std::string exe = WideToAnsi(GameExeName);
  if (std::none_of(files.begin(), files.end(), [&](const SourceFile& f) { return f.path == exe; }))
    result.notes.push_back("the game folder has no " + exe + " at its top; the launcher starts that program");
  return files;
}

std::vector<SourceFile> CollectLauncher(const std::wstring& launcherDir) {
  if (!DirectoryExists(launcherDir)) Fail("launcher folder " + Shown(launcherDir) + " does not exist");
  std::vector<SourceFile> files;
  for (const auto& entry : ListFolder(launcherDir, "the launcher folder")) {
    std::string name = NarrowName(entry.name, "", entry.isDirectory ? "launcher folder " : "launcher file ");
    std::string what = "launcher file " + Quoted(name);
    if (entry.isLink) Fail(LinkRefusal("launcher folder", Quoted(name)));
    if (entry.isDirectory)
      Fail("launcher folder " + Shown(launcherDir) + " has a subfolder " + Quoted(name) +
           "; the self-update installs only the files at the top of the package");
    std::string problem = LauncherNameProblem(name);
    if (!problem.empty()) Fail(what + ": " + problem);
    SourceFile file;
    file.source = Join(launcherDir, entry.name);
    if (!IsPlainEntry(file.source, false))
      Fail(what + " is a device, pipe or socket; only plain files are published");
    file.relative = entry.name;
    file.path = name;
    file.size = InputSize(file.source, what);
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
  if (std::none_of(files.begin(), files.end(), [](const SourceFile& f) { return f.path == LauncherExeName; }))
    Fail("launcher folder " + Shown(launcherDir) + " has no " + LauncherExeName +
         " (the exact name; the self-update script replaces that file)");
  CheckCaseClashes(files, "launcher files ");
  uint64_t total = 0;
  for (const auto& file : files) total += file.size;
  if (total > kMaxArchiveContent)
    Fail("launcher folder " + Shown(launcherDir) + " holds " + std::to_string(total) +
         " bytes; the launcher package takes at most 4000 MiB");
  return files;
}

// ---- the output folder ----------------------------------------------------------------------

std::wstring ParentPath(std::wstring path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// Creates the output folder and takes everything written below it away again unless the
// publication completes.
class OutputFolder {
 public:
  explicit OutputFolder(const std::wstring& dir) : dir_(dir) {
    if (FileExists(dir)) Fail("output " + Shown(dir) + " is a file; give a new or empty folder");
    if (DirectoryExists(dir)) {
      if (!ListFolder(dir, "the output folder").empty())
        Fail("output folder " + Shown(dir) + " is not empty; give a new or empty folder");
      return;
    }
    for (std::wstring missing = dir; !missing.empty() && !DirectoryExists(missing); missing = ParentPath(missing))
      created_.push_back(missing);
    if (!CreateDirectories(dir + L"\\") || !DirectoryExists(dir)) {
      removeCreated();
      Fail("cannot create the output folder " + Shown(dir));
    }
  }
  ~OutputFolder() {
    if (kept_) return;
    Patcher patcher;  // the engine's tree deletion takes one for its log
    DeleteTree(patcher, Join(dir_, L"production"));
    removeCreated();
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  void keep() { kept_ = true; }
  const std::wstring& path() const { return dir_; }
  // A published path ("a/b/c") below the folder.
  std::wstring operator/(const std::string& path) const { return Join(dir_, WidePath(path)); }

 private:
  void removeCreated() {
    for (const auto& dir : created_) RemoveEmptyDirectory(dir);  // deepest first
  }

  std::wstring dir_;
  std::vector<std::wstring> created_;
  bool kept_ = false;
};

void WriteText(const std::wstring& path, const std::string& text) {
  CreateDirectories(path);
  FILE* file = OpenFile(path, L"wb");
  if (!file) Fail("cannot create " + Shown(path));
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) Fail("cannot write " + Shown(path));
}

// ---- earlier releases -------------------------------------------------------------------------

// The game trees that patches are made from: each folder given is either a release's game tree
// or a server folder written by Publish, whose every version holds one below files/.
std::vector<std::wstring> PreviousTrees(const std::vector<std::wstring>& dirs) {
  std::vector<std::wstring> trees;
  for (const auto& dir : dirs) {
    const std::string what = "previous release " + Shown(dir);
    if (!DirectoryExists(dir)) Fail(what + " is not a folder");
    const std::string versionsPath = kProductFolder + "Game";
    const std::wstring versions = Join(dir, WidePath(versionsPath));
    if (DirectoryExists(versions)) {
      std::vector<ListedEntry> entries = ListFolder(versions, "the previous server folder");
      std::sort(entries.begin(), entries.end(),
                [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
      const size_t before = trees.size();
      for (const auto& entry : entries) {
        const std::wstring files = Join(Join(versions, entry.name), L"files");
        if (entry.isDirectory && !entry.isLink && DirectoryExists(files)) trees.push_back(files);
      }
      if (trees.size() == before)
        Fail(what + " holds no published game files (no " + versionsPath + "/<version>/files/ folder)");
    } else if (FileExists(Join(dir, GameExeName))) {
      trees.push_back(dir);
    } else {
      Fail(what + " is neither a game tree (it holds no " + WideToAnsi(GameExeName) +
           ") nor a server folder written by vorel-publish (it holds no " + versionsPath + "/)");
    }
  }
  return trees;
}

// ---- zip archives -----------------------------------------------------------------------------

// minizip reaches files through these, so that archives open on wide paths like every other
// file of the engine. The "file name" minizip passes around is a std::wstring*.
voidpf ZCALLBACK OpenWide(voidpf, const void* name, int mode) {
  const auto& path = *static_cast<const std::wstring*>(name);
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) return OpenFile(path, L"rb");
  if (mode & ZLIB_FILEFUNC_MODE_EXISTING) return OpenFile(path, L"r+b");
  if (mode & ZLIB_FILEFUNC_MODE_CREATE) return OpenFile(path, L"wb");
  return nullptr;
}
uLong ZCALLBACK ReadWide(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<uLong>(fread(buffer, 1, size, static_cast<FILE*>(stream)));
}
uLong ZCALLBACK WriteWide(voidpf, voidpf stream, const void* buffer, uLong size) {
  return static_cast<uLong>(fwrite(buffer, 1, size, static_cast<FILE*>(stream)));
}
ZPOS64_T ZCALLBACK TellWide(voidpf, voidpf stream) {
  int64_t position = TellFile(static_cast<FILE*>(stream));
  return position < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(position);
}
long ZCALLBACK SeekWide(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  int whence = origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END : SEEK_SET;
  return SeekFile(static_cast<FILE*>(stream), static_cast<int64_t>(offset), whence) ? 0 : -1;
}
int ZCALLBACK CloseWide(voidpf, voidpf stream) { return fclose(static_cast<FILE*>(stream)); }
int ZCALLBACK ErrorWide(voidpf, voidpf stream) { return ferror(static_cast<FILE*>(stream)); }

zlib_filefunc64_def WideFileFunctions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenWide;
  functions.zread_file = ReadWide;
  functions.zwrite_file = WriteWide;
  functions.ztell64_file = TellWide;
  functions.zseek64_file = SeekWide;
  functions.zclose_file = CloseWide;
  functions.zerror_file = ErrorWide;
  return functions;
}

class ZipWriter {
 public:
  explicit ZipWriter(const std::wstring& path) : path_(path) {
    CreateDirectories(path_);
    zlib_filefunc64_def functions = WideFileFunctions();
    zip_ = zipOpen2_64(&path_, APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip_) Fail("cannot create " + Shown(path_));
  }
  ~ZipWriter() {
    if (zip_) zipClose(zip_, nullptr);
  }
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  void begin(const std::string& name, uint64_t size) {
    zip_fileinfo info{};
    info.dosDate = kDosDate;  // minizip takes this over tmz_date when it is not 0
    uLong flags = 0;
#ifndef _WIN32
    // The native build's names are UTF-8; say so, for other zip tools (the launcher ignores it).
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      flags |= 1 << 11;
#endif
    int zip64 = size >= kZip64From ? 1 : 0;
    if (zipOpenNewFileInZip4_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                kCompressionLevel, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags,
                                zip64) != ZIP_OK)
      Fail("cannot add " + Quoted(name) + " to " + Shown(path_));
  }
  void write(const char* data, size_t size) {
    if (zipWriteInFileInZip(zip_, data, static_cast<unsigned>(size)) != ZIP_OK) Fail("cannot write " + Shown(path_));
  }
  void end() {
    if (zipCloseFileInZip(zip_) != ZIP_OK) Fail("cannot write " + Shown(path_));
  }
  void close() {
    int result = zipClose(zip_, nullptr);
    zip_ = nullptr;
    if (result != ZIP_OK) Fail("cannot write " + Shown(path_));
  }

 private:
  std::wstring path_;
  zipFile zip_ = nullptr;
};

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Reads one input once: into its archive entry and, when copy is given, its loose copy. Fills
// the input's CRC-32; the file must still have the size it was listed with.
void StreamFile(SourceFile& file, ZipWriter& zip, const std::string& entryName, const std::wstring* copy,
                std::vector<char>& buffer, bool withSha) {
  Sha256 sha;
  FilePtr input(OpenFile(file.source, L"rb"));
  if (!input) Fail("cannot open " + Shown(file.source));
  FilePtr output;
  if (copy) {
    CreateDirectories(*copy);
    output.reset(OpenFile(*copy, L"wb"));
    if (!output) Fail("cannot create " + Shown(*copy));
  }
  zip.begin(entryName, file.size);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), input.get())) > 0) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
    if (withSha) sha.update(buffer.data(), n);
    total += n;
    zip.write(buffer.data(), n);
    if (output && fwrite(buffer.data(), 1, n, output.get()) != n) Fail("cannot write " + Shown(*copy));
  }
  if (ferror(input.get())) Fail("cannot read " + Shown(file.source));
  zip.end();
  if (output && fclose(output.release()) != 0) Fail("cannot write " + Shown(*copy));
  if (total != file.size) Fail(Shown(file.source) + " changed while it was being published");
  file.crc = static_cast<uint32_t>(crc);
  if (withSha) file.sha256 = sha.hexDigest();
}

// The whole of a file of the size given, as the patch maker takes it; false when it cannot be
// read or has another size.
bool LoadFile(const std::wstring& path, uint64_t size, std::vector<unsigned char>& data) {
  FilePtr file(OpenFile(path, L"rb"));
  if (!file) return false;
  data.resize(static_cast<size_t>(size));
  size_t done = 0, n = 1;
  while (done < data.size() && n > 0) {
    n = fread(data.data() + done, 1, std::min(kBufferSize, data.size() - done), file.get());
    done += n;
  }
  return done == data.size() && fgetc(file.get()) == EOF && !ferror(file.get());
}

uint32_t BytesCrc(const unsigned char* data, size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (size_t at = 0; at < size; at += kBufferSize)
    crc = crc32(crc, data + at, static_cast<uInt>(std::min(kBufferSize, size - at)));
  return static_cast<uint32_t>(crc);
}

struct Package {
  std::string name;  // also its path below zip/
  size_t first = 0, count = 0;
  uint64_t unpacked = 0;
  uint64_t size = 0;
  std::string crc;
  std::string sha256;  // signed releases only
};

// Files in list order; a package is closed when the next file would take it past the target
// size, and always takes at least one file.
std::vector<Package> PlanPackages(const std::vector<SourceFile>& files, uint64_t target) {
  std::vector<Package> packages;
  for (size_t i = 0; i < files.size(); ++i) {
    if (packages.empty() || packages.back().unpacked + files[i].size > target) {
      Package package;
      char name[64];
      snprintf(name, sizeof name, "%s_%03zu.zip", kGameFolder.c_str(), packages.size() + 1);
      package.name = name;
      package.first = i;
      packages.push_back(package);
    }
    packages.back().count++;
    packages.back().unpacked += files[i].size;
  }
  return packages;
}

// The archive as the launcher's unzip sees it: these entries, in this order, with these sizes
// and checksums.
void CheckArchive(const std::wstring& path, const std::vector<SourceFile>& files, size_t first, size_t count,
                  const std::string& prefix) {
  const std::string what = "archive " + Shown(path);
  zlib_filefunc64_def functions = WideFileFunctions();
  unzFile archive = unzOpen2_64(&path, &functions);
  unz_global_info64 global;
  if (!archive || unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
    if (archive) unzClose(archive);
    Fail(what + " does not open as a zip archive");
  }
  std::string problem;
  if (global.number_entry != count) problem = "holds " + std::to_string(global.number_entry) + " entries";
  for (size_t i = 0; problem.empty() && i < count; ++i) {
    const SourceFile& file = files[first + i];
    unz_file_info64 info;
    std::vector<char> name(prefix.size() + file.path.size() + 2, '\0');
    if ((i > 0 && unzGoToNextFile(archive) != UNZ_OK) ||
        unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                0) != UNZ_OK)
      problem = "cannot be read";
    else if (std::string(name.data(), std::min<size_t>(info.size_filename, name.size())) != prefix + file.path ||
             info.uncompressed_size != file.size || info.crc != file.crc)
      problem = "has entry " + std::to_string(i + 1) + " as " + Quoted(name.data()) + ", " +
                std::to_string(info.uncompressed_size) + " bytes, CRC " + CrcText(static_cast<uint32_t>(info.crc)) +
                " where " + Quoted(prefix + file.path) + ", " + std::to_string(file.size) + " bytes, CRC " +
                CrcText(file.crc) + " was written";
  }
  unzClose(archive);
  if (!problem.empty()) Fail(what + " reads back wrong: it " + problem);
}

// ---- configuration texts ---------------------------------------------------------------------

std::string AddressList(const std::vector<std::string>& mirrors, const std::string& suffix) {
  std::string list;
  for (const auto& mirror : mirrors) list += (list.empty() ? "" : "$") + mirror + suffix;
  return list;
}

std::vector<std::string> Addresses(const std::vector<std::string>& mirrors, const std::string& suffix) {
  std::vector<std::string> list;
  for (const auto& mirror : mirrors) list.push_back(mirror + suffix);
  return list;
}

void CheckReadBack(bool same, const std::wstring& path, const std::string& field) {
  if (!same) Fail(Shown(path) + " reads back differently from what was written (" + field + ")");
}

int64_t IssueTime(int64_t issuedAt) { return issuedAt > 0 ? issuedAt : static_cast<int64_t>(std::time(nullptr)); }

void CheckValidDays(int days) {
  if (days < 1 || days > kMaxValidDays)
    Fail("validity of " + std::to_string(days) + " days is outside 1 to " + std::to_string(kMaxValidDays));
}

std::wstring JoinOut(const std::wstring& dir, const std::string& relative) {
  return dir + L"\\" + AnsiToWide(ReplaceAll(relative, "/", "\\"));
}

// The manifest and its signatures, each written beside its place and moved over it: a server
// that serves the folder while it is re-signed never sends half a file.
void WriteSignedManifest(const std::wstring& dir, const ReleaseManifest& m, const std::vector<std::string>& keys) {
  const std::string text = FormatReleaseManifest(m);
  std::string signatures;
  for (const auto& key : keys) {
    std::string signature = SignMessage(text, key);
    if (signature.empty()) Fail("a signing key is not a secret key made by vorel-publish --make-keys");
    signatures += signature + "\n";
  }
  const std::string folder = PublishedLauncherFolder();
  for (const auto& [name, content] : {std::make_pair(ReleaseManifestFileA, text), std::make_pair(ReleaseSignatureFileA, signatures)}) {
    const std::wstring path = JoinOut(dir, folder + name), staged = path + L".new";
    WriteText(staged, content);
    const bool moved = CopyFileOver(staged, path);
    RemoveFileCrt(staged);
    if (!moved) Fail("cannot write " + Shown(path));
  }
}

struct Publication {
  const PublishOptions& options;
  OutputFolder& out;
  Patcher patcher;  // the launcher's parsers and checks take one
  std::string zipVersion;
  std::string gameFolder;      // below the output folder, "/"-separated, ending in "/"
  std::string launcherFolder;  // likewise
  std::vector<SourceFile> game, launcher;
  std::vector<Package> packages;
  Package launcherPackage;
  std::vector<char> buffer = std::vector<char>(kBufferSize);
  const bool signing;
  std::map<std::string, std::string> texts;  // what a signed release's manifest lists by name
  const int64_t issued;
  std::vector<std::wstring> previousTrees;  // earlier game trees to make patches from
  struct MadePatch {
    PatchListEntry entry;
    std::wstring base;  // the earlier copy it was made from
  };
  std::vector<MadePatch> patches;
  int changedFiles = 0;

  Publication(const PublishOptions& o, OutputFolder& folder, const std::string& zip)
      : options(o), out(folder), zipVersion(zip), signing(!o.signingKeys.empty()), issued(IssueTime(o.issuedAt)) {
    gameFolder = PublishedGameFolder(options.gameVersion);
    launcherFolder = PublishedLauncherFolder();
  }

  void writeGame() {
    packages = PlanPackages(game, options.packageSize);
    for (auto& package : packages) {
      if (options.progress) options.progress("writing " + package.name + " (" + std::to_string(package.count) +
                                             " files, " + std::to_string(package.unpacked) + " bytes)");
      std::wstring path = out / (gameFolder + "zip/" + package.name);
      ZipWriter zip(path);
      for (size_t i = package.first; i < package.first + package.count; ++i) {
        std::wstring copy = out / (gameFolder + "files/" + game[i].path);
        StreamFile(game[i], zip, kGameFolder + "/" + game[i].path, &copy, buffer, signing);
      }
      zip.close();
      package.crc = FileCrc(path, &package.size, signing ? &package.sha256 : nullptr);
      if (package.crc.empty()) Fail("cannot read back " + Shown(path));
    }
    std::string fileList;
    for (const auto& file : game)
      fileList += file.path + "=" + file.path + "$" + std::to_string(file.size) + "$" + CrcText(file.crc) + "\n";
    WriteText(out / (gameFolder + "filelist.txt"), fileList);
    texts[FileListNameA] = Sha256::OfText(fileList);
    std::string zipList;
    for (const auto& package : packages)
      zipList += package.name + "=" + package.name + "$" + std::to_string(package.unpacked) + "$" +
                 std::to_string(package.size) + "$" + package.crc + "\n";
    WriteText(out / (gameFolder + "ziplist.txt"), zipList);
    texts[ZipListNameA] = Sha256::OfText(zipList);
  }

  // Binary patches from every earlier copy of a game file that differs from the new one, one
  // file at a time: the maker holds both files and a suffix array of the old one in memory.
  // Earlier copies alike in size and CRC-32 share one patch.
  void writePatches() {
    if (previousTrees.empty()) return;
    std::vector<unsigned char> oldData, newData;
    std::string list;
    uint64_t patchBytes = 0, wholeBytes = 0;
    for (const auto& file : game) {
      std::vector<std::string> seen = {CrcText(file.crc) + "-" + std::to_string(file.size)};
      bool newLoaded = false;
      for (const auto& tree : previousTrees) {
        const std::wstring base = Join(tree, file.relative);
        if (!FileExists(base) || !IsPlainEntry(base, false)) continue;  // new here, or not a plain file
        uint64_t baseSize = 0;
        const std::string baseCrc = FileCrc(base, &baseSize);
        if (baseCrc.empty()) Fail("cannot read " + Shown(base));
        const std::string baseName = baseCrc + "-" + std::to_string(baseSize);
        if (std::find(seen.begin(), seen.end(), baseName) != seen.end()) continue;
        if (seen.size() == 1) ++changedFiles;
        seen.push_back(baseName);
        if (file.size < kPatchFrom || file.size > patch::kMostBase || baseSize > patch::kMostBase) continue;
        if (!LoadFile(base, baseSize, oldData) || CrcText(BytesCrc(oldData.data(), oldData.size())) != baseCrc)
          Fail(Shown(base) + " cannot be read, or changed while it was being published");
        const std::wstring copy = out / (gameFolder + "files/" + file.path);
        if (!newLoaded && !LoadFile(copy, file.size, newData)) Fail("cannot read back " + Shown(copy));
        newLoaded = true;
        const std::string made = patch::MakePatch(oldData, newData, kPatchLevel);
        const std::string what = Quoted(file.path) + " from " + std::to_string(baseSize) + " bytes, CRC " + baseCrc;
        if (made.size() > file.size / 2) {
          if (options.progress)
            options.progress("no patch for " + what + ": " + std::to_string(made.size()) + " bytes of " +
                             std::to_string(file.size) + " would gain too little");
          continue;
        }
        PatchListEntry entry;
        entry.path = file.path;
        entry.baseSize = baseSize;
        entry.baseCrc = baseCrc;
        entry.address = "patches/" + baseName + "/" + file.path;
        entry.patchSize = made.size();
        entry.patchCrc = CrcText(BytesCrc(reinterpret_cast<const unsigned char*>(made.data()), made.size()));
        entry.resultSize = file.size;
        entry.resultCrc = CrcText(file.crc);
        if (signing) entry.patchSha256 = Sha256::OfText(made);
        WriteText(out / (gameFolder + entry.address), made);
        if (options.progress)
          options.progress("patch for " + what + ": " + std::to_string(made.size()) + " bytes of " +
                           std::to_string(file.size));
        list += FormatPatchListLine(entry);
        patchBytes += entry.patchSize;
        wholeBytes += entry.resultSize;
        patches.push_back({entry, base});
      }
    }
    WriteText(out / (gameFolder + PatchListNameA), list);
    texts[PatchListNameA] = Sha256::OfText(list);
    if (options.progress)
      options.progress(std::to_string(patches.size()) + " patches for " + std::to_string(changedFiles) +
                       " changed files: " + std::to_string(patchBytes) + " bytes instead of " +
                       std::to_string(wholeBytes));
  }

  void writeLauncher() {
    launcherPackage.name = "VORELLauncher_" + options.launcherVersion + ".zip";
    if (options.progress) options.progress("writing " + launcherPackage.name);
    std::wstring path = out / (launcherFolder + options.launcherVersion + "/" + launcherPackage.name);
    ZipWriter zip(path);
    for (auto& file : launcher) {
      StreamFile(file, zip, file.path, nullptr, buffer, false);
      launcherPackage.unpacked += file.size;
    }
    zip.close();
    launcherPackage.crc = FileCrc(path, &launcherPackage.size, signing ? &launcherPackage.sha256 : nullptr);
    if (launcherPackage.crc.empty()) Fail("cannot read back " + Shown(path));
  }

  std::string scrambled(const std::string& value) const {
    return options.scramble ? patcher.alphabet.scramble(value) : value;
  }

  void writeConfigs() {
    const auto& m = options.mirrors;
    std::string server;
    server += "incrementVersion=" + options.gameVersion + "\n";
    server += "zipVersion=" + zipVersion + "\n";
    server += "useZip=" + scrambled(options.useZip ? "True" : "False") + "\n";
    server += "filelistURLs=" + scrambled(AddressList(m, gameFolder + "filelist.txt")) + "\n";
    server += "ziplistURLs=" + scrambled(AddressList(m, gameFolder + "ziplist.txt")) + "\n";
    server += "zipupdateURLs=" + scrambled(AddressList(m, gameFolder + "zip/")) + "\n";
    server += "incrementupdateURLs=" + scrambled(AddressList(m, gameFolder + "files/")) + "\n";
    WriteText(out / (launcherFolder + ServerConfigFileA), server);
    texts[ServerConfigFileA] = Sha256::OfText(server);

    std::string launcherText;
    launcherText += "launcherVersion=" + scrambled(options.launcherVersion) + "\n";
    launcherText += "remoteURLs=" + scrambled(AddressList(m, launcherFolder)) + "\n";
    launcherText += "launcherZipInfo=" +
                    scrambled(launcherPackage.name + "$" + std::to_string(launcherPackage.unpacked) + "$" +
                              std::to_string(launcherPackage.size) + "$" + launcherPackage.crc) +
                    "\n";
    WriteText(out / (launcherFolder + LauncherConfigFileA), launcherText);
    texts[LauncherConfigFileA] = Sha256::OfText(launcherText);
  }

  ReleaseManifest manifest() const {
    ReleaseManifest m;
    m.launcherVersion = ParseVersion(options.launcherVersion);
    m.zipVersion = ParseVersion(zipVersion);
    m.incrementVersion = ParseVersion(options.gameVersion);
    m.issued = issued;
    m.expires = issued + int64_t(options.validDays) * 86400;
    m.texts = texts;
    m.launcherPath = launcherPackage.name;
    m.launcherPackage = {launcherPackage.size, launcherPackage.sha256};
    for (const auto& package : packages) m.packages[package.name] = {package.size, package.sha256};
    for (const auto& file : game) m.files[file.path] = {file.size, file.sha256};
    return m;
  }

  // Signed releases: the manifest and its detached signature, beside launcherconfig.txt, and the
  // record an installer ships so that a first installation already has its floor.
  void writeManifest() {
    if (!signing) return;
    ReleaseManifest m = manifest();
    WriteSignedManifest(out.path(), m, options.signingKeys);
    WriteText(out / (launcherFolder + AcceptedReleaseFileA), FormatAcceptedRelease(m));
  }

  void verifyManifest() {
    if (!signing) return;
    std::wstring path = out / (launcherFolder + ReleaseManifestFileA);
    std::string text, signature;
    if (!ReadWholeFile(path, text) || !ReadWholeFile(out / (launcherFolder + ReleaseSignatureFileA), signature))
      Fail("cannot read back the release manifest and its signature");
    for (const auto& key : options.signingKeys)
      if (!SignedWithKey(text, signature, PublicKeyOf(key)))
        Fail(Shown(path) + " does not verify with the public key of signing key " + PublicKeyOf(key));
    ReleaseManifest read;
    std::string problem;
    CheckReadBack(ParseReleaseManifest(text, read, problem) && FormatReleaseManifest(read) == text, path,
                  "manifest " + problem);
  }

  // Everything written is read back the way the launcher reads it.
  void verify() {
    const auto& m = options.mirrors;
    std::wstring path = out / (launcherFolder + ServerConfigFileA);
    ServerConfig server;
    CheckReadBack(ParseServerConfig(path, server, false, patcher.alphabet, patcher.logger), path, "parse");
    // The versions were checked to be in their formatted form.
    CheckReadBack(FormatVersion(server.incrementVersion) == options.gameVersion, path, "incrementVersion");
    CheckReadBack(FormatVersion(server.zipVersion) == zipVersion, path, "zipVersion");
    CheckReadBack(server.useZip == options.useZip, path, "useZip");
    CheckReadBack(server.filelistURLs == Addresses(m, gameFolder + "filelist.txt"), path, "filelistURLs");
    CheckReadBack(server.ziplistURLs == Addresses(m, gameFolder + "ziplist.txt"), path, "ziplistURLs");
    CheckReadBack(server.zipupdateURLs == Addresses(m, gameFolder + "zip/"), path, "zipupdateURLs");
    CheckReadBack(server.incrementupdateURLs == Addresses(m, gameFolder + "files/"), path, "incrementupdateURLs");

    path = out / (launcherFolder + LauncherConfigFileA);
    LauncherConfig launcherConfig;
    CheckReadBack(ParseLauncherConfig(path, launcherConfig, patcher.alphabet, patcher.logger), path, "parse");
    CheckReadBack(FormatVersion(launcherConfig.launcherVersion) == options.launcherVersion, path, "launcherVersion");
    CheckReadBack(launcherConfig.remoteURLs == Addresses(m, launcherFolder), path, "remoteURLs");
    const PackageInfo& info = launcherConfig.launcherZipInfo;
    CheckReadBack(info.path == launcherPackage.name &&
                      info.unpackedSize == static_cast<int64_t>(launcherPackage.unpacked) &&
                      info.size == static_cast<int64_t>(launcherPackage.size) && info.crc == launcherPackage.crc,
                  path, "launcherZipInfo");
    CheckArchive(out / (launcherFolder + options.launcherVersion + "/" + launcherPackage.name), launcher, 0,
                 launcher.size(), "");

    path = out / (gameFolder + "filelist.txt");
    std::string text;
    if (!ReadWholeFile(path, text)) Fail("cannot read back " + Shown(path));
    std::vector<FileListEntry> fileList = ParseFileList(text, patcher);
    CheckReadBack(fileList.size() == game.size(), path, "number of entries");
    for (size_t i = 0; i < game.size(); ++i) {
      const FileListEntry& entry = fileList[i];
      CheckReadBack(!entry.failed && entry.name == game[i].path && entry.path == game[i].path &&
                        entry.size == game[i].size && entry.crc == CrcText(game[i].crc),
                    path, "the entry of " + Quoted(game[i].path));
    }
    // The loose copies pass the launcher's own check of a game folder.
    CheckResults check = CheckLocalFiles(patcher, out / (gameFolder + "files"), fileList);
    if (check.filesToDownload != 0 || check.faults != 0)
      Fail(std::to_string(check.filesToDownload) + " loose game files below " + Shown(out / (gameFolder + "files")) +
           " do not match the file list");

    path = out / (gameFolder + "ziplist.txt");
    if (!ReadWholeFile(path, text)) Fail("cannot read back " + Shown(path));
    int64_t unpackedTotal = 0;
    std::vector<ZipListEntry> zipList = ParseZipList(text, patcher, unpackedTotal);
    CheckReadBack(zipList.size() == packages.size(), path, "number of entries");
    uint64_t total = 0;
    for (size_t i = 0; i < packages.size(); ++i) {
      const ZipListEntry& entry = zipList[i];
      const Package& package = packages[i];
      CheckReadBack(!entry.failed && entry.name == package.name && entry.path == package.name &&
                        entry.unpackedSize == static_cast<int64_t>(package.unpacked) &&
                        entry.size == static_cast<int64_t>(package.size) && entry.crc == package.crc,
                    path, "the entry of " + package.name);
      CheckArchive(out / (gameFolder + "zip/" + package.name), game, package.first, package.count,
                   kGameFolder + "/");
      total += package.unpacked;
    }
    CheckReadBack(unpackedTotal == static_cast<int64_t>(total), path, "unpacked total");
    verifyPatches();
    verifyManifest();
  }

  // The patch list reads back as written, and every patch rebuilds its file from its base: a
  // patch that did not would cost each player who fetched it a second download.
  void verifyPatches() {
    if (previousTrees.empty()) return;
    const std::wstring path = out / (gameFolder + PatchListNameA);
    std::string text;
    if (!ReadWholeFile(path, text)) Fail("cannot read back " + Shown(path));
    size_t skipped = 0;
    const auto read = ParsePatchList(text, &skipped);
    CheckReadBack(read.size() == patches.size() && skipped == 0, path, "number of entries");
    const std::wstring result = out / (gameFolder + "patch-check.tmp");
    for (const auto& made : patches) {
      const PatchListEntry& entry = made.entry;
      auto range = read.equal_range(entry.path);
      const std::string line = FormatPatchListLine(entry);
      CheckReadBack(std::any_of(range.first, range.second,
                                [&](const auto& r) { return FormatPatchListLine(r.second) == line; }),
                    path, "the entry of " + Quoted(entry.path) + " from CRC " + entry.baseCrc);
      const std::wstring patchPath = out / (gameFolder + entry.address);
      uint64_t size = 0;
      std::string sha;
      const std::string crc = FileCrc(patchPath, &size, signing ? &sha : nullptr);
      CheckReadBack(crc == entry.patchCrc && size == entry.patchSize && sha == entry.patchSha256, patchPath,
                    "size and checksum");
      const std::string error = patch::Apply(made.base, patchPath, result);
      uint64_t resultSize = 0;
      const std::string resultCrc = error.empty() ? FileCrc(result, &resultSize) : "";
      RemoveFileCrt(result);
      if (!error.empty()) Fail("patch " + Shown(patchPath) + " does not apply to " + Shown(made.base) + ": " + error);
      if (resultCrc != entry.resultCrc || resultSize != entry.resultSize)
        Fail("patch " + Shown(patchPath) + " rebuilds " + std::to_string(resultSize) + " bytes, CRC " + resultCrc +
             " from " + Shown(made.base) + " where the file list has " + std::to_string(entry.resultSize) +
             " bytes, CRC " + entry.resultCrc);
    }
  }
};

}  // namespace

std::string PublishedLauncherFolder() { return kProductFolder + "Launcher/"; }
std::string PublishedGameFolder(const std::string& gameVersion) {
  return kProductFolder + "Game/" + gameVersion + "/";
}

std::string ResignRelease(const std::wstring& outputDir, const std::vector<std::string>& signingKeys, int validDays,
                          int64_t issuedAt) {
  try {
    CheckValidDays(validDays);
    if (signingKeys.empty()) Fail("no signing key given");
    const std::string folder = PublishedLauncherFolder();
    const std::wstring path = JoinOut(outputDir, folder + ReleaseManifestFileA);
    std::string text, signature, problem;
    if (!ReadWholeFile(path, text) || !ReadWholeFile(JoinOut(outputDir, folder + ReleaseSignatureFileA), signature))
      Fail("cannot read the release manifest and its signature in " + Shown(outputDir));
    // Only what the studio signed is signed again: a manifest changed on the server stays refused.
    if (!SignedWithKey(text, signature, PublicKeyOf(signingKeys.front())))
      Fail(Shown(path) + " is not signed with the public key of the first signing key");
    ReleaseManifest m;
    if (!ParseReleaseManifest(text, m, problem)) Fail(Shown(path) + " cannot be read: " + problem);
    const int64_t issued = IssueTime(issuedAt);
    if (issued < m.issued) Fail(Shown(path) + " was issued " + FormatUtcTime(m.issued) + ", after the new date");
    m.issued = issued;
    m.expires = issued + int64_t(validDays) * 86400;
    WriteSignedManifest(outputDir, m, signingKeys);
    WriteText(JoinOut(outputDir, folder + AcceptedReleaseFileA), FormatAcceptedRelease(m));
    return "";
  } catch (const PublishError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("re-signing failed: ") + e.what();
  }
}

PublishResult Publish(const PublishOptions& options) {
  PublishResult result;
  try {
    CheckVersion(options.gameVersion, "game version");
    std::string zipVersion = options.zipVersion.empty() ? options.gameVersion : options.zipVersion;
    CheckVersion(zipVersion, "zip version");
    CheckVersion(options.launcherVersion, "launcher version");
    if (options.mirrors.empty()) Fail("no mirror given: the configuration needs at least one address");
    for (const auto& mirror : options.mirrors) CheckMirror(mirror);
    if (options.packageSize == 0 || options.packageSize > kMaxArchiveContent)
      Fail("package size " + std::to_string(options.packageSize) + " is outside 1 byte to 4000 MiB (" +
           std::to_string(kMaxArchiveContent) + " bytes); larger packages would need zip64 offsets");
    if (options.outputDir.empty()) Fail("no output folder given");
    CheckValidDays(options.validDays);

    // Everything is read and checked before the first byte is written.
    std::vector<SourceFile> game = CollectGame(options.gameDir, result);
    std::vector<SourceFile> launcher = CollectLauncher(options.launcherDir);
    std::vector<std::wstring> previousTrees = PreviousTrees(options.previousDirs);

    OutputFolder out(options.outputDir);
    Publication publication(options, out, zipVersion);
    publication.game = std::move(game);
    publication.launcher = std::move(launcher);
    publication.previousTrees = std::move(previousTrees);
    publication.writeGame();
    publication.writePatches();
    publication.writeLauncher();
    publication.writeConfigs();
    publication.writeManifest();
    if (options.progress) options.progress("reading everything back");
    publication.verify();
    out.keep();

    result.files = static_cast<int>(publication.game.size());
    result.packages = static_cast<int>(publication.packages.size());
    for (const auto& file : publication.game) result.bytes += file.size;
    result.patches = static_cast<int>(publication.patches.size());
    result.changedFiles = publication.changedFiles;
    for (const auto& made : publication.patches) {
      result.patchBytes += made.entry.patchSize;
      result.changedBytes += made.entry.resultSize;
    }
    result.ok = true;
  } catch (const PublishError& e) {
    result.error = e.what();
  } catch (const std::exception& e) {
    result.error = std::string("publication failed: ") + e.what();
  }
  if (!result.ok) result.notes.clear();
  return result;
}
