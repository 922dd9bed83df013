// A test's update server: the game in workDir\game (version 1.0.3) and the launcher package from
// workDir\launcher, published with the release builder into the area's folder, the area being
// the only mirror (GameRelease: the options, for a test that changes some).
#pragma once

#include <cstdint>
#include <string>

#include "publisher.h"
#include "support/test_server.h"

PublishOptions GameRelease(const testserver::Area& server, const std::wstring& workDir,
                           const std::string& launcherVersion, uint64_t packageSize);
PublishResult PublishGame(const testserver::Area& server, const std::wstring& workDir,
                          const std::string& launcherVersion, uint64_t packageSize,
                          const std::string& signingKey = "");
