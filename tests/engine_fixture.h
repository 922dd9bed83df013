// A Patcher logging into a fresh folder, for the tests of the update engine's parts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "update/patcher.h"

struct EngineTest : ::testing::Test {
  testfiles::TempDir dir;
  Patcher patcher;
  void SetUp() override { patcher.logger.open(WideToAnsi(dir / L"log.txt")); }
  void TearDown() override { ClearFaults(); }
  // The log's lines after its start line.
  std::vector<std::string> logged() {
    auto lines = testfiles::LogLines(dir / L"log.txt");
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }
};
