#include "support/test_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/text.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace testserver {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

#ifndef _WIN32
// Starts the servers for this process alone, as scripts/test.sh would for a whole run. They
// watch this process and end within a second of it.
Servers StartOwnServers() {
  static testfiles::TempDir state;
  fs::path dir = testfiles::FsPath(state.path());
  fs::create_directories(dir / "docroot");
  std::string command = "/usr/bin/python3 '" VOREL_SOURCE_DIR "/tests/server/vorel_test_server.py' --docroot '" +
                        (dir / "docroot").string() + "' --log '" + (dir / "server.log").string() +
                        "' --parent-pid " + std::to_string(getpid()) + " </dev/null";
  FILE* out = popen(command.c_str(), "r");
  char line[256] = "";
  bool read = out && fgets(line, sizeof line, out);
  int http = 0, ftp = 0, refused = 0;
  if (!out || pclose(out) != 0 || !read || sscanf(line, "http=%d ftp=%d refused=%d", &http, &ftp, &refused) != 3) {
    throw std::runtime_error("the test server did not start (" + command + "): " + line);
  }
  return Servers{"http://127.0.0.1:" + std::to_string(http), "ftp://127.0.0.1:" + std::to_string(ftp),
                 "http://127.0.0.1:" + std::to_string(refused), testfiles::WidePath(dir / "docroot")};
}
#else
Servers StartOwnServers() {
  throw std::runtime_error(
      "the test servers are not running (VOREL_TEST_HTTP is not set): run the Windows tests "
      "through scripts/test.sh, or start them with tests/server/start-servers.sh");
}
#endif

size_t Append(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Bytes a URL cannot carry as they are; "%", "?" and "#" stay so that callers keep control.
std::string Escape(const std::string& relative) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : relative) {
    if (std::isalnum(c) || (c && std::strchr("-._~/!$&'()*+,;=:@%?#", c))) {
      out += static_cast<char>(c);
    } else {
      out += {'%', hex[c >> 4], hex[c & 15]};
    }
  }
  return out;
}

}  // namespace

const Servers& Get() {
  static std::string error;
  static const Servers servers = []() -> Servers {
    try {
      if (Env("VOREL_TEST_HTTP").empty()) return StartOwnServers();
      if (Env("VOREL_TEST_DOCROOT").empty()) throw std::runtime_error("VOREL_TEST_DOCROOT is not set");
      return Servers{"http://" + Env("VOREL_TEST_HTTP"), "ftp://" + Env("VOREL_TEST_FTP"),
                     "http://" + Env("VOREL_TEST_REFUSED"), testfiles::HostPath(Env("VOREL_TEST_DOCROOT"))};
    } catch (const std::exception& e) {
      error = e.what();
      return Servers{};
    }
  }();
  if (!error.empty()) throw std::runtime_error(error);
  return servers;
}

Response Fetch(const std::string& url) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
  Response response;
  CURL* curl = curl_easy_init();
  if (!curl) return response;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // no proxy between the tests and 127.0.0.1
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
  response.result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  curl_easy_cleanup(curl);
  return response;
}

Area::Area() {
  static std::atomic<unsigned> counter{0};
  // Processes of one run share the docroot: a random part (mixed with the clock, as MinGW's
  // random_device may repeat itself) keeps their names apart; create_directory settles the rest.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto mixed = random() ^ static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    name_ = "t" + std::to_string(mixed) + "-" + std::to_string(counter++);
    dir_ = Get().docroot + L"\\" + AnsiToWide(name_);
    std::error_code ec;
    if (fs::create_directory(testfiles::FsPath(dir_), ec)) return;
    if (ec) throw std::runtime_error("cannot create a folder in the test docroot: " + ec.message());
  }
  throw std::runtime_error("no free folder name in the test docroot");
}

Area::~Area() {
  std::error_code ec;
  fs::remove_all(testfiles::FsPath(dir_), ec);
}

std::string Area::url(const std::string& relative) const { return Get().http + path(relative); }

std::string Area::ftpUrl(const std::string& relative) const { return Get().ftp + path(relative); }

std::string Area::base() const { return Get().http + "/" + name_ + "/"; }

std::string Area::path(const std::string& relative) const { return "/" + name_ + "/" + Escape(relative); }

std::wstring Area::file(const std::string& relative) const {
  std::wstring wide = Utf8ToWide(relative);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return dir_ + L"\\" + wide;
}

void Area::put(const std::string& relative, const std::string& content) const {
  if (!testfiles::WriteFile(file(relative), content)) ADD_FAILURE() << "could not write " << relative;
}

void Area::fault(const std::string& relative, const std::string& json) const {
  // Written aside and renamed over, so the server never reads half a file.
  const std::wstring target = file(relative) + L".fault.json", temporary = target + L".tmp";
  std::error_code ec;
  if (testfiles::WriteFile(temporary, json)) fs::rename(testfiles::FsPath(temporary), testfiles::FsPath(target), ec);
  if (ec || !testfiles::Exists(target)) ADD_FAILURE() << "could not put the fault of " << relative << " in place";
}

namespace {

long long Counter(const std::string& name, const std::string& path) {
  Response response = Fetch(Get().http + "/__" + name + "__" + path);
  if (response.result != CURLE_OK || response.status != 200 || response.body.empty()) return -1;
  return std::atoll(response.body.c_str());
}

}  // namespace

int Area::requests(const std::string& relative) const { return static_cast<int>(Counter("count", path(relative))); }

int Area::rangeRequests(const std::string& relative) const {
  return static_cast<int>(Counter("ranged", path(relative)));
}

long long Area::bytesSent(const std::string& relative) const { return Counter("bytes", path(relative)); }

std::vector<std::string> Area::posts(const std::string& relative) const {
  std::vector<std::string> out;
  for (int n = 1;; ++n) {
    std::wstring record = file(relative) + L".post" + std::to_wstring(n);
    if (!testfiles::Exists(record)) return out;
    out.push_back(testfiles::ReadFile(record));
  }
}

}  // namespace testserver
