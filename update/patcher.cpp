#include "update/patcher.h"

#include <exception>

#include "platform/error.h"
#include "platform/files.h"
#include "support/names.h"
#include "support/sha256.h"
#include "support/text_util.h"
#include "support/texts.h"

Patcher::Patcher(EngineOptions options)
    : statusText(texts::Initialising),
      alphabet(CipherKeyword),
      releasePublicKey(ReleasePublicKey),
      options_(options) {}

void Patcher::Work() {
  // One attempt per thread, whatever the outcome.
  for (int attempt = 1; attempt <= 1; ++attempt) RunGuarded([this] { UpdateProcess(LauncherBaseUrl); });
}

void Patcher::RunGuarded(const std::function<void()>& process) {
  // A configuration too large for memory, say: the run fails where the player can see it.
  try {
    process();
  } catch (...) {
    stage = Failed;  // first, as it needs no memory
    try {
      statusText = texts::LauncherUpdateFailed;
      std::string what = "(not a standard exception)";
      try {
        throw;
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      logger.error("Update process stopped by an exception! " + what);
    } catch (...) {
      // Not even memory for the message: the stage alone tells the window that the run failed.
    }
  }
}

std::wstring Patcher::InstallDir() const { return installDir_.empty() ? ModuleDirectory() : installDir_; }

std::vector<std::string> Patcher::BuildCandidateUrls(const std::vector<std::string>& baseList,
                                                     const std::string& name, const std::string& extraBases) {
  std::vector<std::string> urls;
  for (const auto& base : baseList) urls.push_back(base + name);
  for (const auto& base : Split(extraBases, '$')) urls.push_back(base + name);
  return urls;
}

TransferRequest Patcher::request(TransferKind kind, const std::string& url) const {
  TransferRequest request(kind, url);
  request.timings = options_.timings;
  request.resume = options_.resumeDownloads;
  return request;
}

bool Patcher::fetchText(const std::string& url, std::string& text) {
  TransferResult result = GetRemoteTextFile(url, text, options_.timings, &logger);
  noteFailure(result);
  return result.ok;
}

TransferResult Patcher::downloadFile(const TransferRequest& request) {
  TransferResult result = DownloadBinaryFile(request, &logger);
  noteFailure(result);
  return result;
}

void Patcher::noteFailure(const TransferResult& result) {
  if (!result.hasCodes) return;
  lastCurlCode_ = result.curlCode;
  lastHttpStatus_ = result.httpStatus;
}

std::wstring Patcher::codesSuffix() const {
  return L" CURLCODE(" + std::to_wstring(lastCurlCode_) + L") HTTP STATUES CODE(" + std::to_wstring(lastHttpStatus_) +
         L")";
}

namespace {

// Signed releases: a fetched text the manifest does not vouch for is refused like a failed download.
bool Vouched(Logger& logger, const std::string& url, const std::string& sha256, const std::string& expected) {
  if (expected.empty() || sha256 == expected) return true;
  logger.error("Release check failed! url = " + url + "    SHA-256 = " + sha256 + " expected " + expected);
  return false;
}

}  // namespace

FetchEnd Patcher::DownloadFirstAvailable(const std::wstring& path, const std::vector<std::string>& urls,
                                         const std::string& expectedSha256) {
  bool refused = false;  // by any address: the player is told the release could not be verified
  for (const auto& url : urls) {
    TransferRequest file = request(TransferKind::File, url);
    file.destination = path;
    if (!downloadFile(file).ok) continue;
    std::string sha256, content;
    if (!expectedSha256.empty() && ReadWholeFile(path, content)) sha256 = Sha256::OfText(content);
    if (Vouched(logger, url, sha256, expectedSha256)) return FetchEnd::Fetched;
    refused = true;
    RemoveFileCrt(path);
  }
  // Nothing of a failed fetch stays behind, not even the first 64 MiB of an endless answer.
  RemoveFileCrt(path);
  return refused ? FetchEnd::NotVouched : FetchEnd::NotFetched;
}

FetchEnd Patcher::FetchFirstAvailableText(const std::vector<std::string>& urls, const std::string& expectedSha256,
                                          std::string& text) {
  bool refused = false;
  for (const auto& url : urls) {
    text.clear();
    if (!fetchText(url, text)) continue;
    if (Vouched(logger, url, expectedSha256.empty() ? "" : Sha256::OfText(text), expectedSha256))
      return FetchEnd::Fetched;
    refused = true;
  }
  text.clear();
  return refused ? FetchEnd::NotVouched : FetchEnd::NotFetched;
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

bool Patcher::failFetch(FetchEnd end) {
  return fail(end == FetchEnd::NotVouched ? texts::ReleaseNotVerified : texts::CannotVerify + codesSuffix());
}
