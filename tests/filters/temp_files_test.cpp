// Temporary file names, existence checks, whole-file writes and the owners that remove them.
#include "filters/temp_files.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <fstream>
#include <iterator>
#include <vector>

#include "common/text.h"

namespace kavo {
namespace {

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, length);
}

// A suffix of this process's own, so that files left by other runs cannot collide.
std::wstring OwnSuffix(const wchar_t* tail) {
  return L"p" + DecimalWideString(static_cast<int>(GetCurrentProcessId())) + L"." + tail;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(WideToUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempFiles : public ::testing::Test {
 protected:
  // A fresh path in the temporary folder, removed after the test whatever it has become.
  std::wstring FreshPath(const wchar_t* tail) {
    const std::wstring path = MakeUniqueTempPath(OwnSuffix(tail), L"kavo_test");
    created_.push_back(path);
    return path;
  }

  void TearDown() override {
    for (const std::wstring& path : created_) {
      DeleteFileW(path.c_str());
      RemoveDirectoryW(path.c_str());
    }
  }

  std::vector<std::wstring> created_;
};

TEST_F(TempFiles, NameIsPrefixCounterAndSuffixInTheTemporaryFolder) {
  const std::wstring suffix = OwnSuffix(L"en.srt");
  EXPECT_EQ(MakeUniqueTempPath(suffix, L"durud_subs", 521),
            TempFolder() + L"durud_subs521." + suffix);
  // The counter is the tick count read as signed 32 bits.
  EXPECT_EQ(MakeUniqueTempPath(suffix, L"durud_subs", 0xFFFFFFFF),
            TempFolder() + L"durud_subs-1." + suffix);
  EXPECT_EQ(MakeUniqueTempPath(suffix, L"durud_subs", 0x80000000),
            TempFolder() + L"durud_subs-2147483648." + suffix);
}

TEST_F(TempFiles, EmptySuffixGivesNoDot) {
  const std::wstring prefix = L"durud_subs" + OwnSuffix(L"x") + L"_";
  EXPECT_EQ(MakeUniqueTempPath(L"", prefix, 7), TempFolder() + prefix + L"7");
}

TEST_F(TempFiles, TakenNameMovesTheCounterOn) {
  const std::wstring suffix = OwnSuffix(L"en.srt");
  const std::wstring taken = TempFolder() + L"durud_subs100." + suffix;
  created_.push_back(taken);
  ASSERT_TRUE(WriteWholeFile("x", taken));
  EXPECT_EQ(MakeUniqueTempPath(suffix, L"durud_subs", 100),
            TempFolder() + L"durud_subs101." + suffix);

  // A folder takes a name just as a file does, and the counter wraps instead of overflowing.
  const std::wstring maxed = TempFolder() + L"durud_subs2147483647." + suffix;
  created_.push_back(maxed);
  ASSERT_TRUE(CreateDirectoryW(maxed.c_str(), nullptr));
  EXPECT_EQ(MakeUniqueTempPath(suffix, L"durud_subs", 0x7FFFFFFF),
            TempFolder() + L"durud_subs-2147483648." + suffix);
}

TEST_F(TempFiles, TickCountOverloadIsUsed) {
  const std::wstring path = MakeUniqueTempPath(OwnSuffix(L"srt"), L"durud_subs");
  EXPECT_EQ(path.rfind(TempFolder() + L"durud_subs", 0), 0u);
  EXPECT_FALSE(PathExists(path));
}

TEST(ParentFolder, Cases) {
  EXPECT_EQ(ParentFolder(L"C:"), L"C:\\");
  EXPECT_EQ(ParentFolder(L"C:file"), L"C:file\\");
  EXPECT_EQ(ParentFolder(L"C:\\dir/file"), L"C:\\dir/");
  EXPECT_EQ(ParentFolder(L"C:/dir\\file"), L"C:/dir\\");
  EXPECT_EQ(ParentFolder(L"C:\\Temp\\"), L"C:\\Temp\\");
  EXPECT_EQ(ParentFolder(L"C:\\vlc\\vlc.exe"), L"C:\\vlc\\");
  EXPECT_EQ(ParentFolder(L"\\\\server\\share\\file"), L"\\\\server\\share\\file");
  EXPECT_EQ(ParentFolder(L"dir\\file"), L"dir\\file");
  EXPECT_EQ(ParentFolder(L"C"), L"C");
  EXPECT_EQ(ParentFolder(L""), L"");
}

TEST_F(TempFiles, PathExistsForFilesAndFoldersWithOrWithoutTrailingSeparators) {
  const std::wstring folder = TempFolder();
  ASSERT_EQ(folder.back(), L'\\');
  EXPECT_TRUE(PathExists(folder));
  EXPECT_TRUE(PathExists(folder.substr(0, folder.size() - 1)));
  EXPECT_TRUE(PathExists(folder + L"\\/\\"));

  const std::wstring file = FreshPath(L"txt");
  EXPECT_FALSE(PathExists(file));
  ASSERT_TRUE(WriteWholeFile("", file));
  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(file.substr(0, file.size() - 2) + L"?t"));
}

TEST_F(TempFiles, WriteWholeFileCreatesOnlyNewFiles) {
  const std::wstring path = FreshPath(L"srt");
  const std::string bytes("1\n\0\xC3\xA9\n", 6);
  ASSERT_TRUE(WriteWholeFile(bytes, path));
  EXPECT_EQ(ReadAll(path), bytes);

  EXPECT_FALSE(WriteWholeFile("other", path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadAll(path), bytes);

  const std::wstring empty = FreshPath(L"srt");
  EXPECT_TRUE(WriteWholeFile("", empty));
  EXPECT_TRUE(PathExists(empty));
  EXPECT_EQ(ReadAll(empty), "");

  EXPECT_FALSE(WriteWholeFile("x", TempFolder() + L"no_such_folder_" + OwnSuffix(L"d\\f.srt")));
}

TEST_F(TempFiles, WriteNewFileGoesOnPastTakenNamesAndGivesUpOnOtherFailures) {
  // Five names that other writers took after they were found free, then a free one.
  std::vector<std::wstring> paths;
  for (int i = 0; i < 5; ++i) {
    paths.push_back(FreshPath(L"srt"));
    ASSERT_TRUE(WriteWholeFile("theirs", paths[i]));
  }
  paths.push_back(FreshPath(L"srt"));
  size_t asked = 0;
  EXPECT_EQ(WriteNewFile("mine", [&] { return paths[asked++]; }), paths[5]);
  EXPECT_EQ(asked, 6u);
  EXPECT_EQ(ReadAll(paths[5]), "mine");
  EXPECT_EQ(ReadAll(paths[0]), "theirs");

  // A name taken for ever is not waited for for ever.
  asked = 0;
  EXPECT_EQ(WriteNewFile("mine", [&] { return ++asked, paths[0]; }), L"");
  EXPECT_EQ(asked, 1000u);

  // A name that no file can hold is no taken name: three attempts.
  asked = 0;
  EXPECT_EQ(WriteNewFile("mine", [&] { return ++asked, TempFolder() + OwnSuffix(L"what?.srt"); }),
            L"");
  EXPECT_EQ(asked, 3u);
}

TEST_F(TempFiles, OwnerStartsAsARemovableFile) {
  const AvTempPath owner(L"C:\\x");
  EXPECT_TRUE(owner.remove);
  EXPECT_EQ(owner.path, L"C:\\x");
  EXPECT_FALSE(owner.isDirectory);
  EXPECT_EQ(owner.handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(owner.deleteAtReboot);
}

TEST_F(TempFiles, LastOwnerRemovesTheFile) {
  const std::wstring path = FreshPath(L"srt");
  ASSERT_TRUE(WriteWholeFile("x", path));
  auto owner = boost::make_shared<AvTempPath>(path);
  auto second = owner;
  owner.reset();
  EXPECT_TRUE(PathExists(path));
  second.reset();
  EXPECT_FALSE(PathExists(path));
}

TEST_F(TempFiles, OwnerLeavesWhatIsNotItsToRemove) {
  // Already gone: nothing happens, and nothing appears.
  const std::wstring gone = FreshPath(L"srt");
  boost::make_shared<AvTempPath>(gone).reset();
  EXPECT_FALSE(PathExists(gone));

  // A folder where the file was.
  const std::wstring folder = FreshPath(L"srt");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  { AvTempPath owner(folder); }
  EXPECT_TRUE(PathExists(folder));

  // A file where a folder was expected.
  const std::wstring file = FreshPath(L"srt");
  ASSERT_TRUE(WriteWholeFile("x", file));
  {
    AvTempPath owner(file);
    owner.isDirectory = true;
  }
  EXPECT_TRUE(PathExists(file));

  // Not to be removed at all.
  {
    AvTempPath owner(file);
    owner.remove = false;
  }
  EXPECT_TRUE(PathExists(file));
}

TEST_F(TempFiles, FolderOwnerRemovesAnEmptyFolderOnly) {
  const std::wstring empty = FreshPath(L"d");
  ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
  {
    AvTempPath owner(empty);
    owner.isDirectory = true;
  }
  EXPECT_FALSE(PathExists(empty));

  const std::wstring full = FreshPath(L"d");
  const std::wstring inside = full + L"\\f";
  ASSERT_TRUE(CreateDirectoryW(full.c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile("x", inside));
  {
    AvTempPath owner(full);
    owner.isDirectory = true;
    owner.deleteAtReboot = false;
  }
  EXPECT_TRUE(PathExists(inside));
  DeleteFileW(inside.c_str());
}

TEST_F(TempFiles, OwnerWithAHandleOnlyClosesIt) {
  const std::wstring path = FreshPath(L"srt");
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  {
    AvTempPath owner(path);
    owner.handle = handle;
  }
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(handle, &flags));
  EXPECT_TRUE(PathExists(path));
}

TEST_F(TempFiles, KeptFileOutlivesItsOtherOwners) {
  const std::wstring path = FreshPath(L"srt");
  ASSERT_TRUE(WriteWholeFile("x", path));
  auto owner = boost::make_shared<AvTempPath>(path);
  owner->deleteAtReboot = false;

  const std::size_t before = KeptTempPathCount();
  KeepTempPath(owner);
  KeepTempPath(owner);
  EXPECT_EQ(KeptTempPathCount(), before + 2);
  EXPECT_EQ(owner.use_count(), 3);

  owner.reset();
  EXPECT_TRUE(PathExists(path));
}

}  // namespace
}  // namespace kavo
