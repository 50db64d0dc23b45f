#include "filters/temp_files.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/critical_section.h"
#include "common/text.h"

namespace kavo {

namespace {

constexpr DWORD kFolderCapacity = 10240;
constexpr int kWriteAttempts = 3;
// Each name lost means another writer won one, so this is only reached by a thousand writers of
// one suffix ending together, or by a folder whose search cannot see what creation finds there.
constexpr int kNamesLost = 1000;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The longest the decimal counter gets: "-2147483648".
constexpr std::size_t kCounterLength = 11;

// The suffix, with the part before its last dot cut (never inside a surrogate pair) so that a path
// of `taken` characters before it stays shorter than MAX_PATH whatever the counter: a longer path
// cannot be created, and the track would be lost. The part after the dot, its type, stays.
std::wstring FittingSuffix(const std::wstring& suffix, std::size_t taken) {
  const std::size_t room = taken < MAX_PATH - 1 ? MAX_PATH - 1 - taken : 0;
  if (suffix.size() <= room) return suffix;
  const std::size_t dot = suffix.rfind(L'.');
  const std::size_t tail = dot == std::wstring::npos ? 0 : suffix.size() - dot;  // ".srt"
  std::size_t stem = tail < room ? room - tail : 0;
  if (stem > 0 && IS_HIGH_SURROGATE(suffix[stem - 1])) --stem;
  // With no room for any of the name, the type alone, without an empty name before its dot.
  if (stem == 0 && tail > 0) return suffix.substr(dot + 1);
  return suffix.substr(0, stem) + suffix.substr(suffix.size() - tail);
}

std::wstring TempFolderOrNothing() {
  std::wstring buffer(kFolderCapacity, L'\0');
  const DWORD length = GetTempPathW(kFolderCapacity, &buffer[0]);
  // A length above the capacity is the size the name would have needed: nothing was written.
  if (length == 0 || length > kFolderCapacity) return {};
  buffer.resize(length);
  return PathExists(buffer) ? buffer : std::wstring();
}

std::wstring ExecutablePath() {
  std::wstring buffer(kFolderCapacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], kFolderCapacity);
  buffer.resize(length);
  return buffer;
}

// The list of files handed to the host. Created on first use (a function-local static, so the
// creation is thread-safe) and emptied by static destruction when the library is unloaded.
class KeptTempPaths {
 public:
  static KeptTempPaths& Instance() {
    static KeptTempPaths list;
    return list;
  }

  KeptTempPaths() : lock_(new CCritSec), entries_(new Entries) {}
  KeptTempPaths(const KeptTempPaths&) = delete;
  KeptTempPaths& operator=(const KeptTempPaths&) = delete;

  // Runs under the loader lock at unload, where waiting for another thread can deadlock: at process
  // exit the other threads are already gone, and one that died inside the lock would never leave
  // it. So the lock is only tried. When it is held, the list and the lock are abandoned to the
  // ending process (their files stay on disk); deleting a held critical section would pull it from
  // under its owner. Otherwise the files go outside the lock.
  ~KeptTempPaths() {
    if (!lock_->TryLock()) {
      static_cast<void>(lock_.release());
      static_cast<void>(entries_.release());
      return;
    }
    std::unique_ptr<Entries> doomed(std::move(entries_));
    lock_->Unlock();
    lock_.reset();
    // A player left to the ending process (a host that exits without closing its input) still
    // holds its renderers' files: they go now all the same, since nothing outlives the library
    // that could hand them out again.
    for (const auto& file : *doomed) file->RemoveNow();
  }

  void Append(const boost::shared_ptr<AvTempPath>& file) {
    const CAutoLock locked(lock_.get());
    entries_->push_back(file);
  }

  std::size_t Count() {
    const CAutoLock locked(lock_.get());
    return entries_->size();
  }

 private:
  using Entries = std::vector<boost::shared_ptr<AvTempPath>>;

  std::unique_ptr<CCritSec> lock_;
  std::unique_ptr<Entries> entries_;
};

}  // namespace

std::wstring MakeUniqueTempPath(const std::wstring& suffix, const std::wstring& prefix) {
  return MakeUniqueTempPath(suffix, prefix, GetTickCount());
}

std::wstring MakeUniqueTempPath(const std::wstring& suffix, const std::wstring& prefix,
                                DWORD tickCount) {
  std::wstring folder = TempFolderOrNothing();
  if (folder.empty()) folder = ExecutablePath();
  folder = ParentFolder(folder);

  const std::wstring fitting =
      FittingSuffix(suffix, folder.size() + prefix.size() + kCounterLength + 1);

  // The counter counts on as an unsigned number so that it wraps instead of overflowing.
  std::uint32_t counter = tickCount;
  for (;;) {
    std::wstring candidate =
        folder + prefix + DecimalWideString(static_cast<std::int32_t>(counter));
    if (!fitting.empty()) candidate += L"." + fitting;
    if (!PathExists(candidate)) return candidate;
    ++counter;
  }
}

std::wstring ParentFolder(const std::wstring& path) {
  if (path.size() < 2 || path[1] != L':') return path;
  const auto last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) return path + L'\\';
  return path.substr(0, last + 1);
}

bool PathExists(const std::wstring& path) {
  std::wstring trimmed = path;
  while (!trimmed.empty() && IsSeparator(trimmed.back())) trimmed.pop_back();
  if (trimmed.empty()) trimmed = path;

  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(trimmed.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool WriteWholeFile(const std::string& bytes, const std::wstring& path) {
  if (bytes.size() > 0xFFFFFFFFu) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD length = static_cast<DWORD>(bytes.size());
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), length, &written, nullptr) && written == length;
  const DWORD error = GetLastError();
  CloseHandle(file);
  // Created here, so a file that could not be filled is ours to take away again.
  if (!ok) DeleteFileW(path.c_str());
  SetLastError(error);
  return ok;
}

std::wstring WriteNewFile(const std::string& bytes, const std::function<std::wstring()>& nextPath) {
  int failures = 0;
  for (int lost = 0; lost < kNamesLost && failures < kWriteAttempts;) {
    std::wstring path = nextPath();
    if (WriteWholeFile(bytes, path)) return path;
    if (GetLastError() == ERROR_FILE_EXISTS) {
      ++lost;
    } else {
      ++failures;
    }
  }
  return {};
}

AvTempPath::AvTempPath(std::wstring path)
    : remove(true),
      path(std::move(path)),
      isDirectory(false),
      handle(INVALID_HANDLE_VALUE),
      deleteAtReboot(true) {}

AvTempPath::~AvTempPath() { RemoveNow(); }

void AvTempPath::RemoveNow() {
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    path.clear();
    return;
  }
  if (path.empty() || !remove) return;

  // Only what is still of the kind we created goes: a folder that took a file's name (or the
  // reverse) belongs to someone else.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isFolder != isDirectory) return;

  const bool removed =
      isDirectory ? RemoveDirectoryW(path.c_str()) != FALSE : DeleteFileW(path.c_str()) != FALSE;
  if (!removed && deleteAtReboot) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  path.clear();
}

void KeepTempPath(const boost::shared_ptr<AvTempPath>& file) {
  KeptTempPaths::Instance().Append(file);
}

std::size_t KeptTempPathCount() { return KeptTempPaths::Instance().Count(); }

}  // namespace kavo
