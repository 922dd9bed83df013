#include "support/test_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>

#include "platform/text.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace testserver {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Narrow environment strings are the ANSI code page under Windows: read the folder wide.
std::wstring DocrootFromEnvironment() {
#ifdef _WIN32
  const wchar_t* value = _wgetenv(L"VOREL_TEST_DOCROOT");
  std::wstring dir = value ? value : L"";
  if (dir.empty() || dir[0] != L'/') return dir;
  // A Linux path: Wine shows the Linux root as drive Z:.
  std::replace(dir.begin(), dir.end(), L'/', L'\\');
  return L"Z:" + dir;
#else
  return AnsiToWide(Env("VOREL_TEST_DOCROOT"));
#endif
}

#ifndef _WIN32
std::string SourceDir() {
  std::string dir = Env("VOREL_SOURCE_DIR");
#ifdef VOREL_SOURCE_DIR
  if (dir.empty()) dir = VOREL_SOURCE_DIR;
#endif
  return dir;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int PortOf(const std::string& json, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(json, match, std::regex("\"" + key + "\"\\s*:\\s*([0-9]+)"))) return 0;
  return std::stoi(match[1].str());
}

// Starts the servers for this process alone, as scripts/test.sh would for a whole run. They
// watch this process and end within a second of it; the state folder goes at exit.
Servers StartOwnServers() {
  std::string source = SourceDir();
  if (source.empty()) {
    throw std::runtime_error("cannot find the test server: set VOREL_SOURCE_DIR to the source tree");
  }
  std::string script = source + "/tests/server/vorel_test_server.py";
  if (!fs::is_regular_file(script)) throw std::runtime_error("no test server at " + script);

  static testfiles::TempDir state;
  fs::path dir = testfiles::FsPath(state.path());
  fs::create_directories(dir / "docroot");
  fs::path ports = dir / "ports.json";
  fs::path log = dir / "server.log";
  // $PPID of the shell is this process. The server's output goes to a file so that nothing
  // waiting on this process's pipes (ctest) waits on the server too.
  std::string command = "/usr/bin/python3 " + ShellQuote(script) + " --docroot " +
                        ShellQuote((dir / "docroot").string()) + " --port-file " +
                        ShellQuote(ports.string()) + " --parent-pid $PPID </dev/null >" +
                        ShellQuote(log.string()) + " 2>&1 &";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("could not run: " + command);

  std::string json;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(ports);
    json.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!json.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (json.empty()) {
    std::ifstream in(log);
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    throw std::runtime_error("the test server did not start within 15 s: " + output);
  }
  Servers servers;
  servers.http = "http://127.0.0.1:" + std::to_string(PortOf(json, "http"));
  servers.ftp = "ftp://127.0.0.1:" + std::to_string(PortOf(json, "ftp"));
  servers.refused = "http://127.0.0.1:" + std::to_string(PortOf(json, "refused"));
  servers.docroot = testfiles::WidePath(dir / "docroot");
  return servers;
}
#else
Servers StartOwnServers() {
  throw std::runtime_error(
      "the test servers are not running (VOREL_TEST_HTTP is not set): run the Windows tests "
      "through scripts/test.sh, or start them with tests/server/start-servers.sh");
}
#endif

struct Loaded {
  Servers servers;
  std::string error;
};

Loaded Load() {
  Loaded loaded;
  try {
    std::string http = Env("VOREL_TEST_HTTP");
    if (http.empty()) {
      loaded.servers = StartOwnServers();
    } else {
      loaded.servers.http = "http://" + http;
      loaded.servers.ftp = "ftp://" + Env("VOREL_TEST_FTP");
      loaded.servers.refused = "http://" + Env("VOREL_TEST_REFUSED");
      loaded.servers.docroot = DocrootFromEnvironment();
      if (loaded.servers.docroot.empty()) loaded.error = "VOREL_TEST_HTTP is set but VOREL_TEST_DOCROOT is not";
    }
  } catch (const std::exception& e) {
    loaded.error = e.what();
  }
  return loaded;
}

size_t Append(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Bytes a URL cannot carry as they are; "%", "?" and "#" stay so that callers keep control.
std::string Escape(const std::string& relative) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : relative) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string("-._~/!$&'()*+,;=:@%?#").find(static_cast<char>(c)) != std::string::npos;
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::wstring WideRelative(const std::string& relative) {
  std::wstring wide = Utf8ToWide(relative);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

bool WriteAll(const fs::path& target, const std::string& content) {
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

}  // namespace

const Servers& Get() {
  static const Loaded loaded = Load();
  if (!loaded.error.empty()) throw std::runtime_error(loaded.error);
  return loaded.servers;
}

Response Fetch(const std::string& url, long timeoutMs) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
  Response response;
  CURL* curl = curl_easy_init();
  if (!curl) return response;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A proxy from the environment must not stand between the tests and 127.0.0.1.
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
  response.result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  curl_easy_cleanup(curl);
  return response;
}

Area::Area() {
  const Servers& servers = Get();
  static std::atomic<unsigned> counter{0};
  // Processes of one run share the docroot: a random part keeps their names apart, and
  // create_directory settles any remaining collision.
  std::random_device random;
  std::mt19937 mix(random() ^ static_cast<unsigned>(
                                   std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "t" + std::to_string(mix()) + "-" + std::to_string(counter++);
    std::wstring dir = servers.docroot + L"\\" + AnsiToWide(name);
    std::error_code ec;
    if (fs::create_directory(testfiles::FsPath(dir), ec)) {
      name_ = name;
      dir_ = dir;
      return;
    }
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

std::wstring Area::file(const std::string& relative) const { return dir_ + L"\\" + WideRelative(relative); }

void Area::put(const std::string& relative, const std::string& content) const {
  if (!WriteAll(testfiles::FsPath(file(relative)), content)) ADD_FAILURE() << "could not write " << relative;
}

void Area::fault(const std::string& relative, const std::string& json) const {
  // Written aside and renamed over, so the server never reads half a file.
  fs::path target = testfiles::FsPath(file(relative) + L".fault.json");
  fs::path temporary = target;
  temporary += ".tmp";
  std::error_code ec;
  if (!WriteAll(temporary, json)) {
    ADD_FAILURE() << "could not write the fault of " << relative;
    return;
  }
  fs::rename(temporary, target, ec);
  if (ec) ADD_FAILURE() << "could not put the fault of " << relative << " in place: " << ec.message();
}

void Area::clearFault(const std::string& relative) const {
  std::error_code ec;
  fs::remove(testfiles::FsPath(file(relative) + L".fault.json"), ec);
}

int Area::requests(const std::string& relative) const {
  Response response = Fetch(Get().http + "/__count__" + path(relative));
  if (response.result != CURLE_OK || response.status != 200) return -1;
  try {
    return std::stoi(response.body);
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace testserver
