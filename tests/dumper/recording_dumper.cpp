// A stand-in crash-dump module for the tests: it records every call it receives, one line per
// call, in the file named by VOREL_DUMPER_LOG.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void Record(const char* format, const char* a = "", const char* b = "", const char* c = "") {
  const char* path = getenv("VOREL_DUMPER_LOG");
  if (!path) return;
  FILE* file = fopen(path, "ab");
  if (!file) return;
  fprintf(file, format, a, b, c);
  fputc('\n', file);
  fclose(file);
}

}  // namespace

EXPORT void SetConfig(int value, const char* text) {
  char number[16];
  snprintf(number, sizeof number, "%d", value);
  Record("SetConfig(%s,%s)", number, text ? text : "(null)");
}

EXPORT void InitDumperQuellum(const char* key, const char* version, const char* extra) {
  Record("InitDumperQuellum(%s,%s,%s)", key ? key : "(null)", version ? version : "(null)", extra ? extra : "(null)");
}


EXPORT void SetOnMiniDumpCreateCallBack(void*) { Record("SetOnMiniDumpCreateCallBack()"); }

EXPORT void UnInitDumper() { Record("UnInitDumper()"); }
