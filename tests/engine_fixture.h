// A Patcher logging into a fresh folder, for the tests of the update engine's parts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "update/patcher.h"

// A list entry for a file of that content (name and path alike), still to be checked or fetched.
template <typename Entry>
Entry Listed(const std::string& path, const std::string& data) {
  Entry entry;
  entry.name = entry.path = path;
  entry.size = static_cast<decltype(entry.size)>(data.size());
  entry.crc = testfiles::CrcText(data);
  entry.needsDownload = true;
  return entry;
}

struct EngineTest : ::testing::Test {
  testfiles::TempDir dir;
  Patcher patcher;
  void SetUp() override { patcher.logger.open(WideToAnsi(dir / L"log.txt")); }
  // A patcher with other options, logging into the same file.
  std::unique_ptr<Patcher> other;
  Patcher& patcherWith(const EngineOptions& options) {
    other = std::make_unique<Patcher>(options);
    other->logger.open(WideToAnsi(dir / L"log.txt"));
    return *other;
  }
  void TearDown() override { ClearFaults(); }
  // The log's lines after its start line.
  std::vector<std::string> logged() {
    auto lines = testfiles::LogLines(dir / L"log.txt");
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }
};
