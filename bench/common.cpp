#include "common.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Samples::median() const {
  if (values.empty()) return 0;
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  size_t n = sorted.size();
  return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double Samples::best() const { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }

std::string Samples::list() const {
  std::string text;
  for (double v : values) text += (text.empty() ? "" : " ") + Fixed(v, 3);
  return text;
}

void Series::add(const Timing& t) {
  wall.add(t.wall);
  cpu.add(t.cpu);
}

int Reps(int fallback) {
  const char* text = getenv("BENCH_REPS");
  int n = text ? atoi(text) : 0;
  return n > 0 ? n : fallback;
}

bool KeepData() {
  const char* text = getenv("BENCH_KEEP");
  return text && *text && *text != '0';
}

std::string DataRoot() {
  const char* text = getenv("BENCH_DATA");
  if (text && *text) return text;
  return std::string(VOREL_SOURCE_DIR) + "/build/bench-data";
}

void Fail(const std::string& message) {
  fprintf(stderr, "bench: %s\n", message.c_str());
  exit(1);
}

double ProcessCpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

Stopwatch::Stopwatch() : wall_(Now()), cpu_(ProcessCpuSeconds()) {}

Timing Stopwatch::stop() const { return Timing{Now() - wall_, ProcessCpuSeconds() - cpu_}; }

Timing Run(const std::vector<std::string>& argv, const std::string& cwd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  double start = Now();
  pid_t pid;
  int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) Fail("cannot start " + argv[0] + ": " + strerror(error));
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  double elapsed = Now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(argv[0] + " failed");
  double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
  return Timing{elapsed, cpu};
}

namespace {

std::string LastDeleteFile() { return DataRoot() + "/.last-delete"; }

// The block device holding the data folder, as its /sys/dev/block entry.
std::string DataDevice() {
  struct stat st;
  if (stat(DataRoot().c_str(), &st) != 0) return "";
  char path[64];
  snprintf(path, sizeof path, "/sys/dev/block/%u:%u", major(st.st_dev), minor(st.st_dev));
  return path;
}

bool HasJournal() {
  std::error_code error;
  fs::path device = fs::canonical(DataDevice(), error);
  if (error) return true;  // unknown: do not wait
  return fs::exists("/proc/fs/jbd2/" + device.filename().string() + "-8", error);
}

}  // namespace

void Quiesce() {
  sync();
  const std::string base = DataDevice() + "/";
  if (base == "/") return;
  auto read = [](const std::string& path) {
    std::string text;
    if (FILE* f = fopen(path.c_str(), "r")) {
      char buffer[512];
      size_t n = fread(buffer, 1, sizeof buffer, f);
      text.assign(buffer, n);
      fclose(f);
    }
    return text;
  };
  std::string previous;
  int quiet = 0;
  for (double end = Now() + 30; Now() < end && quiet < 5;) {
    std::string now = read(std::string(base) + "stat");
    if (now.empty()) return;  // not a block device we can watch
    bool idle = now == previous && read(std::string(base) + "inflight").find_first_not_of(" 0\n") == std::string::npos;
    quiet = idle ? quiet + 1 : 0;
    previous = now;
    usleep(100000);
  }
}

std::string LoadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "?";
  char text[64];
  snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}


void RemoveAll(const std::string& path) {
  std::error_code error;
  uintmax_t removed = fs::remove_all(path, error);
  if (error) Fail("cannot remove " + path + ": " + error.message());
  if (removed > 0) {
    sync();  // clean inode table blocks shorten ext4's reuse window (see SettleAfterDeletes)
    MakeDirs(DataRoot());
    if (FILE* f = fopen(LastDeleteFile().c_str(), "w")) {
      fprintf(f, "%lld\n", static_cast<long long>(time(nullptr)));
      fclose(f);
    }
  }
}

void SettleAfterDeletes() {
  if (HasJournal()) return;
  long long last = 0;
  if (FILE* f = fopen(LastDeleteFile().c_str(), "r")) {
    if (fscanf(f, "%lld", &last) != 1) last = 0;
    fclose(f);
  }
  long long wait = last + 65 - static_cast<long long>(time(nullptr));
  if (wait <= 0) return;
  printf("  (waiting %lld s: ext4 without a journal is slow to create files after a deletion)\n", wait);
  fflush(stdout);
  sleep(static_cast<unsigned>(wait));
}

QuietStdout::QuietStdout() {
  fflush(stdout);
  saved_ = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
}

QuietStdout::~QuietStdout() {
  fflush(stdout);
  dup2(saved_, 1);
  close(saved_);
}

void MakeDirs(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) Fail("cannot create " + path + ": " + error.message());
}

namespace {

uint64_t ReadAll(const std::string& file, std::vector<char>& buffer) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + file);
  uint64_t total = 0;
  ssize_t n;
  while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
  close(fd);
  return total;
}

// A vocabulary of made-up words and a pool of lines built from it; text files are slices of
// the pool, so making them costs little more than copying.
const std::string& TextPool() {
  static const std::string pool = [] {
    Content content(0x7e47);
    std::vector<std::string> words;
    for (int i = 0; i < 600; ++i) {
      std::string word;
      int length = 2 + static_cast<int>(content.next() % 9);
      for (int k = 0; k < length; ++k) word.push_back(static_cast<char>('a' + content.next() % 26));
      words.push_back(word);
    }
    std::string text;
    text.reserve(4u << 20);
    while (text.size() < (4u << 20)) {
      uint64_t r = content.next();
      text += words[r % 64] + "_" + std::to_string(r >> 50) + " =";
      int count = 4 + static_cast<int>((r >> 8) % 10);
      for (int k = 0; k < count; ++k) text += " " + words[content.next() % words.size()];
      text += "\r\n";
    }
    return text;
  }();
  return pool;
}

}  // namespace

uint64_t WarmRead(const std::string& path) {
  std::vector<char> buffer(1 << 20);
  if (!fs::is_directory(path)) return ReadAll(path, buffer);
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    if (entry.is_regular_file()) total += ReadAll(entry.path().string(), buffer);
  }
  return total;
}

uint64_t Content::next() {
  // splitmix64: fast, and the same bytes on every machine.
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

void Content::fill(Kind kind, char* data, size_t size) {
  if (kind == Kind::Text) {
    const std::string& pool = TextPool();
    for (size_t done = 0; done < size;) {
      size_t piece = std::min<size_t>(size - done, 4096);
      size_t from = next() % (pool.size() - piece);
      memcpy(data + done, pool.data() + from, piece);
      done += piece;
    }
    return;
  }
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v = next();
    if (kind == Kind::Nibbles) v = (v & 0x0f0f0f0f0f0f0f0full) | 0x4040404040404040ull;
    memcpy(data + i, &v, 8);
  }
  uint64_t v = next();
  for (; i < size; ++i, v >>= 8) data[i] = static_cast<char>(kind == Kind::Nibbles ? 0x40 | (v & 0x0f) : v);
}

GeneratedFile WriteFile(const std::string& root, const std::string& relative, uint64_t size, Kind kind,
                        Content& content) {
  std::string path = root + "/" + relative;
  MakeDirs(fs::path(path).parent_path().string());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create " + path);
  static std::vector<char> buffer(1 << 20);
  GeneratedFile file{relative, size, static_cast<uint32_t>(crc32(0L, Z_NULL, 0))};
  for (uint64_t done = 0; done < size;) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(size - done, buffer.size()));
    content.fill(kind, buffer.data(), piece);
    file.crc = static_cast<uint32_t>(crc32(file.crc, reinterpret_cast<const Bytef*>(buffer.data()),
                                           static_cast<uInt>(piece)));
    if (write(fd, buffer.data(), piece) != static_cast<ssize_t>(piece)) Fail("cannot write " + path);
    done += piece;
  }
  close(fd);
  return file;
}

std::vector<GeneratedFile> WriteSmallTree(const std::string& root, const std::string& prefix, int count,
                                          uint64_t minSize, uint64_t maxSize, uint64_t seed) {
  Content content(seed);
  std::vector<GeneratedFile> files;
  files.reserve(static_cast<size_t>(count));
  const Kind kinds[5] = {Kind::Random, Kind::Text, Kind::Random, Kind::Text, Kind::Nibbles};
  for (int i = 0; i < count; ++i) {
    char relative[96];
    // About a hundred files a folder, ten folders a group.
    snprintf(relative, sizeof relative, "%sg%02d/f%02d/item_%05d.%s", prefix.c_str(), i / 1000, (i / 100) % 10, i,
             i % 5 == 1 || i % 5 == 3 ? "txt" : "bin");
    uint64_t size = minSize + content.next() % (maxSize - minSize + 1);
    files.push_back(WriteFile(root, relative, size, kinds[i % 5], content));
  }
  return files;
}

std::string FileListText(const std::vector<GeneratedFile>& files) {
  std::string text;
  for (const auto& f : files) text += f.path + "=" + f.path + "$" + std::to_string(f.size) + "$" + Hex8(f.crc) + "\n";
  return text;
}

uint64_t TotalBytes(const std::vector<GeneratedFile>& files) {
  uint64_t total = 0;
  for (const auto& f : files) total += f.size;
  return total;
}

std::string Hex8(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string Fixed(double value, int digits) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

namespace {

// BENCH_LABEL names a variant run of a benchmark, e.g. on another file system.
std::string Labelled(const std::string& bench) {
  const char* label = getenv("BENCH_LABEL");
  return label && *label ? bench + " (" + label + ")" : bench;
}

}  // namespace

void Summary(const std::string& bench, const std::string& measure, const std::string& ours,
             const std::string& reference, const std::string& ratio, const std::string& target, bool met) {
  printf("SUMMARY\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", Labelled(bench).c_str(), measure.c_str(), ours.c_str(),
         reference.c_str(), ratio.c_str(), target.c_str(), met ? "met" : "MISSED");
  fflush(stdout);
}

void InfoRow(const std::string& bench, const std::string& measure, const std::string& ours,
             const std::string& reference, const std::string& ratio) {
  printf("SUMMARY\t%s\t%s\t%s\t%s\t%s\t-\t(info)\n", Labelled(bench).c_str(), measure.c_str(), ours.c_str(),
         reference.c_str(), ratio.c_str());
  fflush(stdout);
}

}  // namespace bench
