// Files kept for the host go when the process's static objects are destroyed. A child run of this
// program keeps one file and exits normally; the parent then finds it gone. Own program, own main.
#include "filters/temp_files.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <shellapi.h>

#include <cwchar>

#include "child_process.h"
#include "common/text.h"

namespace kavo {
namespace {

constexpr wchar_t kChildSwitch[] = L"--keep-file-and-exit";

enum ChildResult { kKeptAndStillThere = 0, kBadArguments = 2, kWriteFailed = 3, kLostEarly = 4 };

// Writes the file, keeps it, drops its own owner and checks that the file is still there.
int RunChild(const std::wstring& path) {
  if (!WriteWholeFile("kept", path)) return kWriteFailed;
  auto owner = boost::make_shared<AvTempPath>(path);
  owner->deleteAtReboot = false;
  KeepTempPath(owner);
  owner.reset();
  return PathExists(path) ? kKeptAndStillThere : kLostEarly;
}

TEST(KeptTempPaths, KeptFileIsRemovedAtStaticDestruction) {
  const std::wstring path = MakeUniqueTempPath(
      L"p" + DecimalWideString(static_cast<int>(GetCurrentProcessId())) + L".srt", L"durud_subs");
  const test::ChildRun run =
      test::RunChild(test::OwnProgram(), std::wstring(kChildSwitch) + L" \"" + path + L"\"", 60000);
  ASSERT_TRUE(run.ended) << run;
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(kKeptAndStillThere)) << run;
  EXPECT_FALSE(PathExists(path));
  DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace kavo

int main(int argc, char** argv) {
  // The path may hold characters the narrow arguments cannot carry: read the wide command line.
  int wideCount = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  if (wide && wideCount >= 2 && std::wcscmp(wide[1], kavo::kChildSwitch) == 0) {
    const int result = wideCount == 3 ? kavo::RunChild(wide[2]) : kavo::kBadArguments;
    LocalFree(wide);
    return result;
  }
  LocalFree(wide);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
