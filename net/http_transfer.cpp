#include "net/http_transfer.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <type_traits>

#include "net/curl_handle.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/logger.h"

static_assert(std::is_same<curl_off_t, int64_t>::value, "the watchdog's signature must match libcurl's");

namespace {

// How the three kinds of transfer differ.
struct KindRules {
  bool toFile;
  long TransferTimings::*connectSeconds;
  long TransferTimings::*firstWindow;  // the low-speed window of the first attempt
  long TransferTimings::*retryWindow;  // and of every further attempt
  long TransferTimings::*lowSpeedLimit;
  long TransferTimings::*totalSeconds;  // the whole transfer's time; none for files
  bool restartsAnsweredStalls;          // an answered transfer that crawls starts over from zero
};
using T = TransferTimings;
const KindRules kRules[] = {
    /* Text */
    {false, &T::textConnectSeconds, &T::textLowSpeedSeconds, &T::textLowSpeedSeconds, &T::textLowSpeedLimit,
     &T::textTotalSeconds, false},
    /* File */
    {true, &T::fileConnectSeconds, &T::lowSpeedSeconds, &T::lowSpeedSeconds, &T::lowSpeedLimit, nullptr, false},
    /* Job */
    {true, &T::fileConnectSeconds, &T::lowSpeedSeconds, &T::retryLowSpeedSeconds, &T::lowSpeedLimit, nullptr, true},
};

// Attempts in a row that get no further than the best one before a download gives up: a
// resumable one's cuts and stalls, a job's restarts of an answered stall.
constexpr int kIdleAttemptsLimit = 3;
// And attempts in all: a server that adds a byte per attempt must not hold a download for ever.
// A line that drops this often is better served by the next address (and, with resuming, by
// the next run, which continues the bytes on disk).
constexpr int kMostAttempts = 16;

// libcurl speaks these only. A file:// address on Windows opens a UNC path, that is an SMB
// share, and hands it the player's NTLM hash; a redirect never leaves HTTP(S), so a server
// cannot send the launcher to a local file or to another protocol either.
constexpr char kProtocols[] = "http,https,ftp";
constexpr char kRedirectProtocols[] = "http,https";

bool GoodStatus(long status) { return status == 200 || status == 226; }
bool Succeeded(CURLcode code, long status) { return code == CURLE_OK && GoodStatus(status); }

int32_t ResponseStatus(CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return static_cast<int32_t>(status);
}

bool StartsWithNoCase(const char* data, size_t size, const char* prefix) {
  size_t length = strlen(prefix);
  if (size < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(data[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool IsHttpUrl(const std::string& url) {
  return StartsWithNoCase(url.data(), url.size(), "http://") || StartsWithNoCase(url.data(), url.size(), "https://");
}

bool IsHttpScheme(const char* scheme) {
  if (!scheme) return false;
  size_t length = strlen(scheme);
  return (length == 4 && StartsWithNoCase(scheme, length, "http")) ||
         (length == 5 && StartsWithNoCase(scheme, length, "https"));
}

// "bytes N-M/T" -> N; -1 for anything else ("bytes */T" included).
int64_t RangeStart(const char* text, size_t size) {
  size_t at = 0;
  while (at < size && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (!StartsWithNoCase(text + at, size - at, "bytes")) return -1;
  at += 5;
  while (at < size && (text[at] == ' ' || text[at] == '\t')) ++at;
  int64_t value = 0;
  size_t digits = 0;
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
    if (value > (INT64_MAX - 9) / 10) return -1;
    value = value * 10 + (text[at] - '0');
  }
  return digits > 0 && at < size && text[at] == '-' ? value : -1;
}

// A file being written: closed on every way out; close() tells whether every byte reached it.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() {
    if (file_) fclose(file_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  FILE* get() const { return file_; }
  // Closes the file (if any) and takes another in its place.
  void reset(FILE* file) {
    if (file_) fclose(file_);
    file_ = file;
    if (!file_) return;
    // Writes reach the disk in 1 MiB pieces rather than stdio's 4 KiB ones.
    if (!buffer_) buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (buffer_) setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
  }
  bool close() {
    FILE* file = file_;
    file_ = nullptr;
    return file && fclose(file) == 0;
  }

 private:
  static constexpr size_t kBufferBytes = 1 << 20;
  FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // stdio's buffer: outlives the file, which the destructor closes
};

// Where one attempt's body goes. A text and a plain download keep whatever arrives (an error
// page included); a ranged download decides at the first byte (or after an answer without one),
// once the status and headers are known, whether the body continues the file. Nothing is kept
// past the cap, counted from the file's start.
class Body {
 public:
  enum Kind { kUndecided, kWrite, kDiscard, kStartOver };

  Body(CURL* curl, std::string* text, OutputFile* file, const std::wstring& path, int64_t offset,
       TransferProgress* progress, bool ranged, int64_t cap)
      : curl_(curl), text_(text), file_(file), path_(path), progress_(progress), cap_(cap), offset(offset) {
    if (!ranged) kind = kWrite;
  }

  void decide() {
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    char* scheme = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_SCHEME, &scheme);
    const bool http = IsHttpScheme(scheme);
    if (offset == 0) {
      // An error page must not become the start of the file that a later attempt continues.
      kind = GoodStatus(status) ? kWrite : kDiscard;
    } else if (http && status == 206 && rangeStart == offset) {
      kind = kWrite;
    } else if (http && status == 200) {
      // The server ignored the range: its answer is the whole file, written from zero.
      kind = kWrite;
      file_->reset(OpenFile(path_, L"wb"));
      if (progress_->runningTotal) progress_->runningTotal->fetch_sub(offset);
      progress_->offset = offset = 0;
      if (progress_->received) progress_->received->store(progress_->seen);
    } else if (status != 0 && (status == 416 || status == 206 || !http)) {
      // Nothing that continues these bytes: a plain request follows.
      kind = kStartOver;
    } else {
      kind = kDiscard;  // an error status: the bytes on disk stay for a later attempt
    }
  }

  static size_t Write(char* data, size_t size, size_t count, void* self) {
    auto* body = static_cast<Body*>(self);
    if (!body->started_) {
      body->started_ = true;
      // No exception may unwind through libcurl's C frames.
      try {
        if (body->kind == kUndecided) body->decide();
      } catch (...) {
        return 0;
      }
      body->page_ = body->isPage();
    }
    const size_t length = size * count;
    if (body->kind == kStartOver) return 0;
    body->arrived_ += static_cast<int64_t>(length);
    if (body->page_ && body->arrived_ > std::max(body->cap_, kMaxPageBytes)) {
      body->tooLong = true;
      return 0;
    }
    if (body->kind == kDiscard) return length;
    size_t fits = length;
    if (body->cap_ >= 0) {
      const int64_t room = std::max<int64_t>(0, body->cap_ - body->offset - body->written);
      if (static_cast<uint64_t>(room) < length) fits = static_cast<size_t>(room);
    }
    size_t done = 0;
    if (body->text_) {
      done = AppendToText(data, 1, fits, body->text_);
    } else if (body->file_->get()) {
      done = fwrite(data, 1, fits, body->file_->get());
    }
    body->written += static_cast<int64_t>(done);
    if (done < fits) return done;  // the destination refused them
    if (fits == length || body->page_) return length;  // a page's bytes past the cap are dropped
    body->tooLong = true;
    return fits;
  }

  static size_t Header(char* data, size_t size, size_t count, void* self) {
    auto* body = static_cast<Body*>(self);
    const size_t length = size * count;
    static const char kContentRange[] = "content-range:";
    if (StartsWithNoCase(data, length, "HTTP/")) {
      body->rangeStart = -1;  // a new response: a redirect's headers do not count
    } else if (StartsWithNoCase(data, length, kContentRange)) {
      body->rangeStart = RangeStart(data + sizeof kContentRange - 1, length - (sizeof kContentRange - 1));
    }
    return length;
  }

 private:
  // An HTTP answer that is neither the file nor its range: an error's page. It is kept as far as
  // it fits under the cap (or discarded), and only a page past kMaxPageBytes ends the transfer,
  // so that a missing small file still shows its status.
  bool isPage() const {
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    char* scheme = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_SCHEME, &scheme);
    return IsHttpScheme(scheme) && status != 200 && status != 206;
  }

  CURL* curl_;
  std::string* text_;
  OutputFile* file_;
  const std::wstring& path_;
  TransferProgress* progress_;
  const int64_t cap_;        // negative: none
  bool started_ = false;     // the first bytes of the answer have been seen
  bool page_ = false;
  int64_t arrived_ = 0;      // body bytes received, kept or not

 public:
  Kind kind = kUndecided;
  int64_t offset;           // where the body goes in the file: the range's start, 0 after a restart
  int64_t written = 0;      // body bytes written
  int64_t rangeStart = -1;  // the start in the last response's Content-Range
  bool tooLong = false;     // the answer passed the cap: the transfer is cut there
};

// One request, one attempt at a time, with what the attempts learn kept between them.
class Attempts {
 public:
  enum Step { kDone, kAgain, kFailed, kNoHandle, kCannotOpen, kCannotWrite };

  explicit Attempts(const TransferRequest& request)
      : r_(request),
        rules_(kRules[static_cast<int>(request.kind)]),
        ranged_(rules_.toFile && request.resume && request.expectedSize > 0),
        cap_(request.expectedSize >= 0 ? request.expectedSize : request.maxBytes) {}

  Step attempt(bool first) {
    CurlHandle curl(curl_easy_init());
    if (!curl) return kNoHandle;
    OutputFile file;
    int64_t offset = 0;
    if (rules_.toFile) {
      if (ranged_) offset = openContinued(file);
      if (!file.get()) file.reset(OpenFile(r_.destination, L"wb"));
      if (!file.get()) return kCannotOpen;
    }

    TransferProgress progress;
    progress.received = r_.received;
    progress.runningTotal = r_.runningTotal;
    progress.lastChangeMs = WallClockMs();
    progress.stallMs = r_.timings.stallMs;
    progress.offset = offset;
    if (ranged_) {
      // The progress counts the bytes on disk as done.
      if (r_.received) r_.received->store(offset);
      if (r_.runningTotal) r_.runningTotal->fetch_add(offset - counted_);
    }
    Body body(curl.get(), rules_.toFile ? nullptr : r_.text, &file, r_.destination, offset, &progress, ranged_, cap_);
    setOptions(curl.get(), &body, &progress, first);
    // A range of our own rather than CURLOPT_RESUME_FROM_LARGE: a server that ignores it (200)
    // then still delivers the file instead of failing the attempt.
    const std::string range = std::to_string(offset) + "-";
    if (offset > 0) curl_easy_setopt(curl.get(), CURLOPT_RANGE, range.c_str());
    code_ = curl_easy_perform(curl.get());
    status_ = ResponseStatus(curl.get());
    if (body.kind == Body::kUndecided) body.decide();  // an answer without a body
    curl.reset();
    counted_ = progress.offset + progress.seen;
    ++made_;
    // Cut at the cap by the body rather than refused by the destination: the address's fault.
    if (body.tooLong) code_ = CURLE_FILESIZE_EXCEEDED;

    if (!rules_.toFile) {
      completed_ = Succeeded(code_, status_);
      return completed_ ? kDone : kFailed;
    }
    return ranged_ ? rangedOutcome(file, body, offset) : plainOutcome(file, body);
  }

  CURLcode code() const { return code_; }
  int32_t status() const { return status_; }
  // The cap of the body, negative for none.
  int64_t cap() const { return cap_; }

  // The last attempt's transfer itself went well (only the file may have failed).
  bool completed() const { return completed_; }
  // The file continues bytes of an earlier attempt or run.
  bool resumed() const { return resumed_; }

 private:
  // Bytes on disk are continued when they can be the start of the file (and only over HTTP).
  int64_t openContinued(OutputFile& file) {
    int64_t offset = 0;
    if (!fromZero_ && IsHttpUrl(r_.url)) file.reset(OpenFile(r_.destination, L"rb+"));
    if (file.get()) {
      offset = SeekFile(file.get(), 0, SEEK_END) ? TellFile(file.get()) : 0;
      if (offset <= 0 || offset >= r_.expectedSize) {
        offset = 0;
        file.reset(nullptr);
      }
    }
    if (first_) best_ = offset;
    first_ = fromZero_ = false;
    if (offset == 0) resumed_ = false;
    return offset;
  }

  void setOptions(CURL* curl, Body* body, TransferProgress* progress, bool first) const {
    curl_easy_setopt(curl, CURLOPT_URL, r_.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kRedirectProtocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    // A redirect loop would otherwise go round for ever: each answer resets the stall watchdog.
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Body::Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    if (ranged_) {
      curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Body::Header);
      curl_easy_setopt(curl, CURLOPT_HEADERDATA, body);
    }
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TransferWatchdog);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, progress);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // Receive in large pieces: with libcurl's 16 KiB default a fast download spends much of its
    // time in system calls.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L << 10);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, r_.timings.*rules_.connectSeconds);
    long TransferTimings::*window = first ? rules_.firstWindow : rules_.retryWindow;
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, r_.timings.*window);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, r_.timings.*rules_.lowSpeedLimit);
    if (rules_.totalSeconds) curl_easy_setopt(curl, CURLOPT_TIMEOUT, r_.timings.*rules_.totalSeconds);
    // libcurl refuses an announced length past this before any byte (its 7.88 checks nothing
    // more); Body::Write cuts the rest at the exact cap.
    if (cap_ >= 0)
      curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(std::max(cap_, kMaxPageBytes)));
  }

  Step plainOutcome(OutputFile& file, const Body& body) {
    // The last buffered bytes reach the disk only when the file is closed: a full disk shows here.
    const bool written = file.close() && code_ != CURLE_WRITE_ERROR;
    completed_ = Succeeded(code_, status_);
    if (!written) return kCannotWrite;
    if (completed_) return kDone;
    if (rules_.restartsAnsweredStalls && code_ == CURLE_OPERATION_TIMEDOUT && GoodStatus(status_)) {
      // The server answered and then slowed to a crawl: start over with a longer window, as long
      // as the restarts get further than the best attempt so far.
      if (further(body.written) != kAgain) return kFailed;
      RemoveFileCrt(r_.destination);
      if (r_.received) r_.received->store(0);
      return kAgain;
    }
    return kFailed;  // what arrived (part of the file, an error page) stays on disk
  }

  // After an attempt that reached `length` and may be followed by another.
  Step further(int64_t length) {
    if (made_ >= kMostAttempts) return kFailed;
    if (length > best_) {
      best_ = length;
      idle_ = 0;
      return kAgain;
    }
    return ++idle_ < kIdleAttemptsLimit ? kAgain : kFailed;
  }

  Step rangedOutcome(OutputFile& file, const Body& body, int64_t offset) {
    completed_ = code_ == CURLE_OK && body.kind == Body::kWrite;
    if (!file.close() || (code_ == CURLE_WRITE_ERROR && body.kind != Body::kStartOver)) return kCannotWrite;
    if (body.kind == Body::kWrite) resumed_ = body.offset > 0;
    if (completed_) return kDone;
    const int64_t length = body.kind == Body::kWrite ? body.offset + body.written : offset;
    if (body.kind == Body::kStartOver) {
      fromZero_ = true;
    } else if (body.kind != Body::kWrite || body.tooLong || length >= r_.expectedSize) {
      return kFailed;  // no answer, an error status, or more bytes than the file has
    }
    // Cut or stalled (or to start over): again, as long as attempts keep adding bytes.
    return further(length);
  }

  const TransferRequest& r_;
  const KindRules& rules_;
  const bool ranged_;
  const int64_t cap_;
  int made_ = 0;         // attempts made
  bool first_ = true;
  bool fromZero_ = false;
  bool resumed_ = false;
  bool completed_ = false;
  int64_t best_ = 0;     // the furthest an attempt got: later ones must pass it to count as progress
  int idle_ = 0;         // attempts in a row that did not
  int64_t counted_ = 0;  // this file's bytes in the running total
  CURLcode code_ = CURLE_OK;
  int32_t status_ = 0;
};

// The lines a transfer's end leaves in the log, and the codes it shows the player.
void Report(const TransferRequest& r, Attempts::Step step, const Attempts& attempts, Logger* log,
            TransferResult& result) {
  const bool job = r.kind == TransferKind::Job;
  const std::string where = job ? WideToAnsi(r.destination) : "";
  auto codes = [&](int32_t curlCode, int32_t status) {
    result.hasCodes = true;
    result.curlCode = curlCode;
    result.httpStatus = status;
  };
  switch (step) {
    case Attempts::kAgain:
    case Attempts::kCannotOpen:  // nothing arrived and nothing was asked: no line
      return;
    case Attempts::kDone:
      if (job && log) log->info("Job " + where + " Download Success. RetryTime = " + std::to_string(result.attempts - 1));
      return;
    case Attempts::kNoHandle:
      // The player's message must not show the codes of an older failure.
      codes(CURLE_FAILED_INIT, 0);
      if (job && log) log->error("Job " + where + " DownLoad Error! curl_easy_init failed");
      return;
    case Attempts::kCannotWrite:
      // A full disk or a destination that refuses the bytes: no other address can help.
      if (job) {
        if (log) log->error("Job " + where + " download failed! cannot write the file");
        return;
      }
      break;
    case Attempts::kFailed:
      break;
  }
  if (r.kind == TransferKind::File && attempts.completed()) {
    if (log) log->error("Download Binary file failed! url = " + r.url + "    cannot write " + WideToAnsi(r.destination));
    return;
  }
  codes(attempts.code(), attempts.status());
  if (!log) return;
  if (attempts.code() == CURLE_FILESIZE_EXCEEDED)
    log->error("Answer longer than allowed! url = " + r.url + "    limit = " + std::to_string(attempts.cap()) +
               " bytes");
  const std::string c = std::to_string(result.curlCode), s = std::to_string(result.httpStatus);
  switch (r.kind) {
    case TransferKind::Text: log->error("Get Remote TextFile Failed! CURL CODE = " + c + " HttpStatusCode = " + s); break;
    case TransferKind::File:
      log->error("Download Binary file failed! url = " + r.url + "    CURL CODE = " + c + " HttpStatusCode = " + s);
      break;
    case TransferKind::Job: log->error("Job " + where + " download failed! ResultCode = " + c + " HttpStatus = " + s); break;
  }
}

}  // namespace

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

int TransferWatchdog(void* data, int64_t, int64_t receivedNow, int64_t, int64_t) {
  auto* progress = static_cast<TransferProgress*>(data);
  int64_t now = WallClockMs();
  auto delta = static_cast<int32_t>(static_cast<uint32_t>(receivedNow) - progress->lastReceived);
  if (delta > 0) progress->lastChangeMs = now;
  if (now - progress->lastChangeMs > progress->stallMs) return 1;
  progress->lastReceived = static_cast<uint32_t>(receivedNow);
  progress->seen = receivedNow;
  if (progress->received) progress->received->store(progress->offset + receivedNow);
  if (progress->runningTotal) progress->runningTotal->fetch_add(delta);
  return 0;
}

size_t AppendToText(char* data, size_t size, size_t count, void* text) {
  // No exception may unwind through libcurl's C frames: a failed append ends the transfer
  // with a write error instead.
  try {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
  } catch (...) {
    return 0;
  }
}

TransferResult Transfer(const TransferRequest& request, Logger* log) {
  EnsureCurlReady();
  if (kRules[static_cast<int>(request.kind)].toFile) CreateDirectories(request.destination);
  Attempts attempts(request);
  TransferResult result;
  Attempts::Step step;
  while ((step = attempts.attempt(result.attempts == 0)) == Attempts::kAgain) {
    if (result.attempts < INT32_MAX - 1) ++result.attempts;
  }
  ++result.attempts;
  result.ok = step == Attempts::kDone;
  result.localFault = step == Attempts::kCannotOpen || step == Attempts::kCannotWrite;
  result.resumed = result.ok && attempts.resumed();
  Report(request, step, attempts, log, result);
  return result;
}

TransferResult GetRemoteTextFile(const std::string& url, std::string& text, const TransferTimings& timings,
                                 Logger* log) {
  TransferRequest request(TransferKind::Text, url);
  request.text = &text;
  request.timings = timings;
  return Transfer(request, log);
}

TransferResult DownloadBinaryFile(TransferRequest request, Logger* log) {
  request.kind = TransferKind::File;
  return Transfer(request, log);
}

void RunDownloadJob(DownloadJob* job) {
  DownloadStatus* status = job->status;
  // Nothing may leave a worker thread: an escaping exception would end the whole process.
  try {
    TransferResult result = Transfer(job->request, job->log);
    if (!status) return;
    status->resumed = result.resumed;
    status->hasCodes = result.hasCodes;
    status->curlCode = result.curlCode;
    status->httpStatus = result.httpStatus;
    status->result = result.ok ? result.attempts : result.localFault ? -3 : -1;
  } catch (const std::exception& e) {
    if (status) status->result = -1;
    if (job->log) job->log->error("Job " + WideToAnsi(job->request.destination) + " DownLoad Error! " + e.what());
  } catch (...) {
    if (status) status->result = -1;
  }
}
