// Start and stop events for the analytics collector: one form-encoded POST each, identified by
// the machine's wired MAC address. Nothing depends on the answer; failures are not logged or
// retried. The events are sent on threads of their own, so a slow or silent collector never
// holds the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Percent-encodes text of the ANSI code page as UTF-8: letters, digits, "-", "." and "~" stay,
// a blank becomes "+", every other byte "%XX". The result is cut, without error, before it
// would pass 1023 bytes.
std::string UrlEncode(const std::string& text);
// The same for text that is already UTF-8.
std::string UrlEncodeUtf8(const std::string& utf8);

enum class UsageEvent { Start, Stop };

// The event's description: GBK bytes, as the collector has always received them decoded.
const std::string& EventDescription(UsageEvent event);

// The form body, fields in the collector's order. durationSeconds is sent with the stop event only.
std::string BuildEventBody(UsageEvent event, const std::string& mac, const std::string& msgId,
                           const std::string& eventTime, const std::string& timestamp, int64_t durationSeconds);

// The waits of one event. The launcher's are these; tests pass shorter ones.
struct UsageTimeouts {
  long connectMs = 5000;
  long totalMs = 10000;
};

// Posts one event and waits for it (bounded by the time-outs). Returns the HTTP status, or 0 when
// nothing was received.
long PostUsageEvent(const std::string& url, const std::string& body, const UsageTimeouts& timeouts = {});

// Sends the events of one run. Each event runs on a thread of its own.
class UsageReporter {
 public:
  // clock gives the times the events carry; tests pass one that counts.
  explicit UsageReporter(UsageTimeouts timeouts = {}, std::function<std::string()> clock = {});
  // Waits for events still in flight (bounded by the time-outs). The launcher ends its process
  // without destroying the reporter, so this only matters in tests.
  ~UsageReporter();
  UsageReporter(const UsageReporter&) = delete;
  UsageReporter& operator=(const UsageReporter&) = delete;

  // Nothing is sent when mac is empty.
  void sendStartEvent(std::string url, std::string mac);
  // Waits for the stop event at most waitMs; true when it completed in that time.
  bool sendStopEvent(std::string url, std::string mac, int64_t seconds, int64_t waitMs);

 private:
  struct Flight;
  std::string timedBody(UsageEvent event, const std::string& mac, int64_t durationSeconds);

  UsageTimeouts timeouts_;
  std::function<std::string()> clock_;
  std::unique_ptr<Flight> start_;
  std::unique_ptr<Flight> stop_;
};
