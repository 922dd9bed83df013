// The local HTTP and FTP test servers (tests/server/vorel_test_server.py) as the tests see them.
// scripts/test.sh starts one pair for the whole run and exports VOREL_TEST_*; every test works
// in its own Area (a fresh folder on the servers), so tests may run in parallel.
#pragma once

#include <string>
#include <vector>

namespace testserver {

struct Servers {
  std::string http;      // "http://127.0.0.1:P"
  std::string ftp;       // "ftp://127.0.0.1:P"
  std::string refused;   // "http://127.0.0.1:P", nothing listens there
  std::wstring docroot;  // the served folder, as the tests and the engine open it ("Z:\..." under Wine)
};

// From VOREL_TEST_HTTP, VOREL_TEST_FTP, VOREL_TEST_REFUSED and VOREL_TEST_DOCROOT. Without them
// the native build starts its own servers once per process; the Windows build has no way to,
// so the calling test fails (through an exception) and asks to be run through scripts/test.sh.
const Servers& Get();

// A plain libcurl transfer (redirects followed, no proxy), for looking at the servers.
struct Response {
  int result = -1;   // CURLcode
  long status = 0;   // HTTP status or FTP reply code
  std::string body;
};
Response Fetch(const std::string& url);

// One test's folder on the servers. "relative" names use "/" and are UTF-8 text; in URLs the
// characters a URL cannot hold (space, non-ASCII, ...) are percent-encoded, while "%", "?" and
// "#" are kept, so a caller can still pass its own escapes or a query.
class Area {
 public:
  Area();  // creates docroot/<unique>
  ~Area();  // removes it, best effort
  Area(const Area&) = delete;
  Area& operator=(const Area&) = delete;

  std::string url(const std::string& relative) const;     // http + path(relative)
  std::string ftpUrl(const std::string& relative) const;  // ftp + path(relative)
  std::string base() const;                                // http + "/<unique>/"
  std::string path(const std::string& relative) const;    // "/<unique>/relative", e.g. a redirect's location
  std::wstring file(const std::string& relative) const;   // the file on disk
  // Writes the file, creating its folders; a failed write fails the calling test.
  void put(const std::string& relative, const std::string& content) const;
  // Scripts the server's answers for that path (the JSON of "<file>.fault.json", see the server).
  void fault(const std::string& relative, const std::string& json) const;
  // Requests the HTTP server has had for that path, faulted ones included; -1 when it cannot tell.
  int requests(const std::string& relative) const;
  // Of those, the ones that asked for a range; and the bytes of the file's body sent for it.
  int rangeRequests(const std::string& relative) const;
  long long bytesSent(const std::string& relative) const;
  // The POSTs the server recorded for that path, in order, each as it arrived: request line,
  // headers, a blank line, the body.
  std::vector<std::string> posts(const std::string& relative) const;

 private:
  std::string name_;
  std::wstring dir_;
};

}  // namespace testserver
