#include <gtest/gtest.h>

#include "app/settings.h"
#include "platform/error.h"
#include "support/logger.h"
#include "support/test_files.h"

using testfiles::Exists;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

TEST(Settings, ReadingRepairsWhatIsNotOneOrTwo) {
  struct Case {
    const char* content;  // nullptr: no Config folder at all
    int32_t mode;
    const char* after;    // the file afterwards
  };
  const Case cases[] = {
      {nullptr, 1, "exitMode=1\n"},
      {"other=x\r\n exitMode = 2 \r\n", 2, "other=x\r\n exitMode = 2 \r\n"},  // kept as it is
      {"a=b\nexitMode=3\n", 1, "exitMode=1\n"},
      // The reader rejects a file with a line without "="; it counts as a wrong value.
      {"exitMode=2\nbroken\n", 1, "exitMode=1\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.content) WriteFile(dir / L"Config\\config.ini", c.content);
    Logger log;
    LauncherSettings settings(dir.path(), &log);
    EXPECT_EQ(settings.readSettings(), c.mode) << (c.content ? c.content : "(none)");
    EXPECT_EQ(ReadFile(dir / L"Config\\config.ini"), c.after);
  }
}

TEST(Settings, MenuChoicesRewriteOneLine) {
  struct Case {
    const char* before;  // nullptr: no file
    const char* value;
    const char* after;
  };
  const Case cases[] = {
      // Other lines keep their order, empty lines and lines of "=" alone go, lines end in CR LF.
      {"a=1\n\nexitMode=1\n==\nb=2\n", "2", "a=1\r\nexitMode=2\r\nb=2\r\n"},
      // Blanks around the key still name it; a file without the key gets the line added.
      {" exitMode = 2 \n", "1", "exitMode=1\r\n"},
      {"other=x\r\n", "2", "other=x\r\nexitMode=2\r\n"},
      {nullptr, "2", "exitMode=2\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.before) WriteFile(dir / L"Config\\config.ini", c.before);
    LauncherSettings settings(dir.path(), nullptr);
    EXPECT_TRUE(settings.writeSetting("exitMode", c.value)) << (c.before ? c.before : "(none)");
    EXPECT_EQ(ReadFile(dir / L"Config\\config.ini"), c.after);
  }
}

TEST(Settings, FailedWritesAreReported) {
  TempDir dir;
  WriteFile(dir / L"Config\\config.ini", "exitMode=2\n");
  LauncherSettings settings(dir.path(), nullptr);
  // The old file cannot be deleted: the default is not written.
  InjectFault(FaultCall::DeleteFile, 5, L"config.ini");
  EXPECT_FALSE(settings.writeDefaultSettings());
  ClearFaults();
  EXPECT_EQ(ReadFile(dir / L"Config\\config.ini"), "exitMode=2\n");
  // A choice that cannot be saved says so, and leaves the file as it was.
  InjectFault(FaultCall::OpenFile, 5, L"config.ini");
  EXPECT_FALSE(settings.writeSetting("exitMode", "1"));
  ClearFaults();
  EXPECT_EQ(ReadFile(dir / L"Config\\config.ini"), "exitMode=2\n");
  // No file, and the default cannot be created: nothing is saved.
  TempDir empty;
  LauncherSettings fresh(empty.path(), nullptr);
  InjectFault(FaultCall::OpenFile, 5, L"config.ini");
  EXPECT_FALSE(fresh.writeSetting("exitMode", "2"));
  EXPECT_EQ(fresh.readSettings(), 1);
  ClearFaults();
  EXPECT_FALSE(Exists(empty / L"Config\\config.ini"));
}
