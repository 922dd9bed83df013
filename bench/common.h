// Shared helpers of the benchmark programs: clocks, running the reference tools, deterministic
// test data, and the summary lines that bench/run.sh collects into its table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

double Now();  // seconds on the monotonic clock

struct Samples {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double median() const;
  double best() const;
  std::string list() const;  // "0.123 0.125 0.130"
};

struct Timing;
// The wall and CPU times of repeated runs of one step.
struct Series {
  Samples wall, cpu;
  void add(const Timing& t);
};

// Repetitions of each timed step: BENCH_REPS, or fallback.
int Reps(int fallback);
// BENCH_KEEP=1 leaves the generated data in place for a closer look.
bool KeepData();
// The folder for generated data: BENCH_DATA, or build/bench-data beside the sources.
std::string DataRoot();

// Wall time and CPU time (user + system) of one timed step, in seconds.
struct Timing {
  double wall = 0, cpu = 0;
};
// Times a step of this process: Stopwatch w; ...; Timing t = w.stop();
class Stopwatch {
 public:
  Stopwatch();
  Timing stop() const;

 private:
  double wall_, cpu_;
};
double ProcessCpuSeconds();

// Runs argv (looked up in PATH) with standard output and error sent to /dev/null, and returns
// its wall time and the CPU time it used. A failing command ends the benchmark.
Timing Run(const std::vector<std::string>& argv, const std::string& cwd = "");
// Flushes dirty data and waits (up to 30 s) until the disk holding the data folder has been
// idle for half a second, so that one step's write-back does not land in the next one's time.
void Quiesce();
// The machine's load average now, for the record: other work on a shared machine shows here.
std::string LoadAverage();
// Removes path and notes the time in the data folder, for SettleAfterDeletes.
void RemoveAll(const std::string& path);
// ext4 without a journal will not reuse an inode deleted in the last 60 s (360 s while its
// inode table block is dirty), and every file it creates meanwhile scans past those inodes: a
// step that creates many files soon after a large deletion runs several times slower. Before
// such a step this waits until 65 s have passed since the last RemoveAll of any benchmark,
// which syncs (nothing when the file system has a journal).
void SettleAfterDeletes();
void MakeDirs(const std::string& path);
// While it lives, standard output goes to /dev/null: the zip pass prints a line per pass, which
// stays out of the figures' log.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_;
};
// Reads every regular file below path (or path itself) once, so that it sits in the page cache.
uint64_t WarmRead(const std::string& path);
void Fail(const std::string& message);

// Deterministic content of three kinds: incompressible, text-like (deflates to about a third)
// and low-entropy binary (about a half).
enum class Kind { Random, Text, Nibbles };
class Content {
 public:
  explicit Content(uint64_t seed) : state_(seed) {}
  uint64_t next();
  void fill(Kind kind, char* data, size_t size);

 private:
  uint64_t state_;
};

struct GeneratedFile {
  std::string path;  // relative, "/" separators
  uint64_t size = 0;
  uint32_t crc = 0;
};

// Writes root/relative with size bytes of kind and returns its entry (CRC-32 included).
GeneratedFile WriteFile(const std::string& root, const std::string& relative, uint64_t size, Kind kind,
                        Content& content);
// count files of minSize..maxSize bytes (mixed kinds) in two levels of folders below root/prefix.
std::vector<GeneratedFile> WriteSmallTree(const std::string& root, const std::string& prefix, int count,
                                          uint64_t minSize, uint64_t maxSize, uint64_t seed);
// The update server's file list text for these files: path=path$size$CRC.
std::string FileListText(const std::vector<GeneratedFile>& files);
uint64_t TotalBytes(const std::vector<GeneratedFile>& files);

std::string Hex8(uint32_t value);
std::string Fixed(double value, int digits);

// One row of the summary table: bench, measure, our figure, the reference's figure, the ratio
// (ours / reference, in the direction the target is written), the target and whether it is met.
void Summary(const std::string& bench, const std::string& measure, const std::string& ours,
             const std::string& reference, const std::string& ratio, const std::string& target, bool met);
// The same row without a target: for figures given for information.
void InfoRow(const std::string& bench, const std::string& measure, const std::string& ours,
             const std::string& reference, const std::string& ratio);

}  // namespace bench
