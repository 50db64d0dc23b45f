// Temporary files in the user's temporary folder, and their owners. An AvTempPath removes its path
// when the last boost::shared_ptr to it goes, on whichever thread drops it. Files handed to the
// host are kept in a process-wide list until the library is unloaded.
#pragma once

#include <windows.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <functional>
#include <string>

namespace kavo {

// Folder (the temporary folder, or the executable's when there is none) + prefix + a decimal
// counter seeded from the tick count + "." + suffix (no dot for an empty suffix). A suffix that
// would make the path MAX_PATH long or longer at the longest counter loses characters before its
// last dot. The path did not exist when checked; nothing is reserved, so the caller creates it
// with CREATE_NEW.
std::wstring MakeUniqueTempPath(const std::wstring& suffix, const std::wstring& prefix);
// The same with the counter seeded from tickCount, read as a signed 32-bit number.
std::wstring MakeUniqueTempPath(const std::wstring& suffix, const std::wstring& prefix,
                                DWORD tickCount);

// For a path with a drive letter, the path up to its last separator ("\" or "/"), or the path plus
// "\" when it holds none. Any other path (a network path, say) comes back unchanged.
std::wstring ParentFolder(const std::wstring& path);

// True when a file or folder matches the path; trailing separators are ignored and "*" and "?" act
// as wildcards.
bool PathExists(const std::wstring& path);

// Creates a new file (never replacing one) holding exactly bytes. False when the file exists
// (GetLastError() then answers ERROR_FILE_EXISTS), cannot be created, or not every byte was
// written; a file it created but could not fill is removed again.
bool WriteWholeFile(const std::string& bytes, const std::wstring& path);

// Writes bytes into a new file at the first path from nextPath that can be created, and returns
// that path, or nothing when no file could be written. A path whose name is taken (by another
// writer since nextPath found it free) only moves on to the next one, a thousand times at most, so
// that any number of writers of one name can end together; any other failure ends it after three
// attempts.
std::wstring WriteNewFile(const std::string& bytes, const std::function<std::wstring()>& nextPath);

class AvTempPath {
 public:
  explicit AvTempPath(std::wstring path);
  AvTempPath(const AvTempPath&) = delete;
  AvTempPath& operator=(const AvTempPath&) = delete;
  // With a handle: closes it and nothing more. Otherwise removes the path when it is still of the
  // expected kind (a file, or an empty folder when isDirectory); a failed removal hides the path
  // and schedules it for deletion at restart when deleteAtReboot is set. Reports nothing.
  ~AvTempPath();

  // Does now what destruction would do; destruction then does nothing more. For an owner that must
  // see the file go while others still hold this object.
  void RemoveNow();

  bool remove;
  std::wstring path;
  bool isDirectory;
  HANDLE handle;
  bool deleteAtReboot;
};

// Appends to the process-wide list that keeps files handed to the host alive until the library is
// unloaded; the same file may be kept more than once. Thread-safe; throws std::bad_alloc when
// the list cannot grow (the file is then not kept).
void KeepTempPath(const boost::shared_ptr<AvTempPath>& file);
// Entries in that list (0 before the first append).
std::size_t KeptTempPathCount();

}  // namespace kavo
