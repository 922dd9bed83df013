// The optional crash-dump module Dumper64.dll beside the executable, driven through its exports.
// Loaded on first use (once, whichever thread asks first) and freed at process exit.
#pragma once

// The launcher's set-up of the module, when it is there: its configuration, then its start with
// the launcher's key and version.
void InitialiseDumper(const char* appVersion);
// Calls UnInitDumper when the module has it.
void UninitialiseDumper();
