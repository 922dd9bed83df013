// The optional crash-dump module Dumper64.dll beside the executable, driven through four
// exports. Loaded on first use (once, whichever thread asks first) and freed at process exit.
#pragma once

#include <cstdint>

struct DumperFunctions {
  using InitFn = void (*)(const char* appKey, const char* appVersion, const char* extra);
  using UnInitFn = void (*)();
  using SetConfigFn = void (*)(int32_t value, const char* text);

  void* module = nullptr;
  InitFn init = nullptr;             // InitDumperQuellum
  UnInitFn uninit = nullptr;         // UnInitDumper
  void* onDumpCreated = nullptr;     // SetOnMiniDumpCreateCallBack: resolved, never called
  SetConfigFn setConfig = nullptr;   // SetConfig
};

DumperFunctions& GetDumperFunctions();
// Calls UnInitDumper when the module has it.
void UninitialiseDumper();
