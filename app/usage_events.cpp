#include "app/usage_events.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/curl_handle.h"
#include "net/http_transfer.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/names.h"

namespace {

constexpr size_t EncodedLimit = 1023;
constexpr size_t AnswerLimit = 64 * 1024;

// Keeps the start of the answer; a collector that sends more is cut off.
size_t KeepAnswer(char* data, size_t size, size_t count, void* target) {
  auto* answer = static_cast<std::string*>(target);
  size_t n = size * count;
  if (answer->size() + n > AnswerLimit) return 0;
  answer->append(data, n);
  return n;
}

}  // namespace

std::string UrlEncodeUtf8(const std::string& utf8) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '~';
    size_t width = plain || c == ' ' ? 1 : 3;
    if (out.size() + width > EncodedLimit) break;
    if (plain) out += static_cast<char>(c);
    else if (c == ' ') out += '+';
    else out += {'%', hex[c >> 4], hex[c & 15]};
  }
  return out;
}

std::string UrlEncode(const std::string& text) {
  if (text.empty()) return "";
  return UrlEncodeUtf8(WideToUtf8(AnsiToWide(text)));
}

const std::string& EventDescription(UsageEvent event) {
  static const std::string start = "\xC6\xF4\xB6\xAF\xC6\xF7\xC6\xF4\xB6\xAF\xC1\xF7\xCB\xAE";
  static const std::string stop = "\xC6\xF4\xB6\xAF\xC6\xF7\xB9\xD8\xB1\xD5\xC1\xF7\xCB\xAE";
  return event == UsageEvent::Start ? start : stop;
}

std::string BuildEventBody(UsageEvent event, const std::string& mac, const std::string& msgId,
                           const std::string& eventTime, const std::string& timestamp, int64_t durationSeconds) {
  // The descriptions are GBK whatever the player's code page is; decoding them as the system's
  // ANSI text would send mojibake from every non-Chinese system.
  std::string body = "msgType=custom.event&datasource=launcher&appId=111111551&msgVersion=2.0";
  body += "&deviceId=" + mac;
  body += "&mac=" + mac;
  body += "&appVersion=" + LauncherVersion;
  body += "&msgId=" + msgId;
  body += "&dteventtime=" + eventTime;
  body += "&timestamp=" + timestamp;
  body += event == UsageEvent::Start ? "&eventId=starteronflow" : "&eventId=starteroffflow";
  body += "&eventDesc=" + UrlEncodeUtf8(WideToUtf8(GbkToWide(EventDescription(event))));
  body += "&eventVal=0&channel=window&platid=3";
  if (event == UsageEvent::Stop) body += "&duration=" + std::to_string(durationSeconds);
  return body;
}

long PostUsageEvent(const std::string& url, const std::string& body, const UsageTimeouts& timeouts) {
  EnsureCurlReady();
  CurlHandle curl(curl_easy_init());
  if (!curl) return 0;
  CurlList headers(curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded;charset=utf8"));
  std::string answer;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &KeepAnswer);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
  // The events must never hold the launcher: bounded waits, no signals from another thread,
  // and plain web addresses only.
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeouts.totalMs);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// One event on its own thread; the reporter can wait for it with a deadline.
struct UsageReporter::Flight {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread thread;

  void launch(std::string url, std::string body, UsageTimeouts timeouts) {
    try {
      thread = std::thread([this, url = std::move(url), body = std::move(body), timeouts] {
        try {
          PostUsageEvent(url, body, timeouts);
        } catch (...) {
          // Out of memory while posting: the event is lost, the launcher goes on.
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_all();
      });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;  // no thread: the event is not sent
    }
  }

  bool waitFor(int64_t ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return finished.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
  }
};

UsageReporter::UsageReporter(UsageTimeouts timeouts, std::function<std::string()> clock)
    : timeouts_(timeouts), clock_(clock ? std::move(clock) : NowWithMilliseconds) {}

// The event's time first and the stamp by a second reading, never the other way round.
std::string UsageReporter::timedBody(UsageEvent event, const std::string& mac, int64_t durationSeconds) {
  const std::string eventTime = clock_();
  const std::string timestamp = clock_();
  return BuildEventBody(event, mac, NewGuidText(), eventTime, timestamp, durationSeconds);
}

UsageReporter::~UsageReporter() {
  for (auto* flight : {&start_, &stop_}) {
    if (*flight && (*flight)->thread.joinable()) (*flight)->thread.join();
  }
}

void UsageReporter::sendStartEvent(std::string url, std::string mac) {
  if (mac.empty() || start_) return;
  start_ = std::make_unique<Flight>();
  start_->launch(std::move(url), timedBody(UsageEvent::Start, mac, 0), timeouts_);
}

bool UsageReporter::sendStopEvent(std::string url, std::string mac, int64_t seconds, int64_t waitMs) {
  if (mac.empty() || stop_) return false;
  stop_ = std::make_unique<Flight>();
  stop_->launch(std::move(url), timedBody(UsageEvent::Stop, mac, seconds), timeouts_);
  return stop_->waitFor(waitMs);
}
