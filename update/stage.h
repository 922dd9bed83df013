// Where an update run stands: the Patcher's stage code, which the window follows every frame.
#pragma once

#include <cstdint>

enum Stage : int32_t {
  Starting = 0,
  TransferDone = 1,
  Verifying = 6,
  DownloadingFiles = 7,
  DownloadingPackages = 8,
  Unpacking = 9,
  Finished = 10,
  SelfUpdateFailed = 15,
  Failed = 17,
};
