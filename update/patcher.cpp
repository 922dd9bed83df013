#include "update/patcher.h"

#include "app/names.h"
#include "net/http_transfer.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/text_util.h"
#include "ui/texts.h"

Patcher::Patcher() : statusText(texts::Initialising), alphabet(CipherKeyword) {}

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

bool Patcher::DownloadFirstAvailable(const std::wstring& path, const std::vector<std::string>& urls) {
  for (const auto& url : urls) {
    if (DownloadBinaryFile(url, path, nullptr, nullptr, &logger)) return true;
  }
  return false;
}

std::string Patcher::FetchFirstAvailableText(const std::vector<std::string>& urls) {
  for (const auto& url : urls) {
    std::string text;
    if (GetRemoteTextFile(url, text, &logger)) return text;
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

std::wstring Patcher::codesSuffix() const {
  return L" CURLCODE(" + std::to_wstring(logger.lastCurlCode()) + L") HTTP STATUES CODE(" +
         std::to_wstring(logger.lastHttpStatus()) + L")";
}
