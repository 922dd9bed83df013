#include "update/patcher.h"

#include "app/names.h"
#include "net/http_transfer.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/sha256.h"
#include "support/text_util.h"
#include "ui/texts.h"

Patcher::Patcher()
    : statusText(texts::Initialising), alphabet(CipherKeyword), releasePublicKey(ReleasePublicKey) {}

void Patcher::Work() {
  // One attempt per thread, whatever the outcome.
  for (int attempt = 1; attempt <= 1; ++attempt) UpdateProcess(LauncherBaseUrl);
}

std::wstring Patcher::InstallDir() const { return installDir_.empty() ? ModuleDirectory() : installDir_; }

std::vector<std::string> Patcher::BuildCandidateUrls(const std::vector<std::string>& baseList,
                                                     const std::string& name, const std::string& extraBases) {
  std::vector<std::string> urls;
  for (const auto& base : baseList) urls.push_back(base + name);
  for (const auto& base : Split(extraBases, '$')) urls.push_back(base + name);
  return urls;
}

namespace {

// Signed releases: a fetched text the manifest does not vouch for is refused like a failed download.
bool Vouched(Patcher& patcher, const std::string& url, const std::string& sha256, const std::string& expected) {
  if (expected.empty() || sha256 == expected) return true;
  patcher.logger.error("Release check failed! url = " + url + "    SHA-256 = " + sha256 + " expected " + expected);
  patcher.releaseRefused = true;
  return false;
}

}  // namespace

bool Patcher::DownloadFirstAvailable(const std::wstring& path, const std::vector<std::string>& urls,
                                     const std::string& expectedSha256) {
  releaseRefused = false;  // the outcome of this fetch alone decides the message
  for (const auto& url : urls) {
    if (!DownloadBinaryFile(url, path, nullptr, nullptr, &logger)) continue;
    std::string sha256, content;
    if (!expectedSha256.empty() && ReadWholeFile(path, content)) sha256 = Sha256::OfText(content);
    if (Vouched(*this, url, sha256, expectedSha256)) return true;
    RemoveFileCrt(path);
  }
  return false;
}

std::string Patcher::FetchFirstAvailableText(const std::vector<std::string>& urls, const std::string& expectedSha256) {
  releaseRefused = false;
  for (const auto& url : urls) {
    std::string text;
    if (!GetRemoteTextFile(url, text, &logger)) continue;
    if (Vouched(*this, url, expectedSha256.empty() ? "" : Sha256::OfText(text), expectedSha256)) return text;
  }
  return "";
}

void Patcher::SetLocalServerConfigValue(const std::string& key, const std::string& value) {
  if (!::SetLocalServerConfigValue(InstallDir(), key, value))
    logger.error("Serverconfig update error! ErrorCode = " + std::to_string(LastErrorCode()));
}

bool Patcher::fail(const std::wstring& message) {
  stage = Failed;
  statusText = message;
  return false;
}

bool Patcher::failFetch() {
  return fail(releaseRefused ? texts::ReleaseNotVerified : texts::CannotVerify + codesSuffix());
}

std::wstring Patcher::codesSuffix() const {
  return L" CURLCODE(" + std::to_wstring(logger.lastCurlCode()) + L") HTTP STATUES CODE(" +
         std::to_wstring(logger.lastHttpStatus()) + L")";
}
