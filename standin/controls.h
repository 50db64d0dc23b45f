// Process-wide knobs that tests turn before a video is known (creation failure, version,
// a forced NormalizeAddress answer, hidden interfaces), the count of live COM objects, the text
// of the last failed Load, when a subtitle stream last ended, and the calls that came from a
// thread outside COM. Every function is thread-safe.
#pragma once

#include <windows.h>

#include <string>

namespace kavo::standin {

// Interfaces a test can hide from QueryInterface, process-wide or per video.
enum HiddenInterface : unsigned {
  kHideFileSource = 1,
  kHideSourceControl = 2,
  kHidePropertyBag = 4,
  kHideMediaContent = 8,
  kHideOpenProgress = 16,
};

struct ProcessControls {
  HRESULT createFailure = S_OK;
  ULONG version = 5;
  bool normalizeForced = false;
  HRESULT normalizeResult = S_OK;
  bool normalizeNull = false;
  std::wstring normalizeAddress;
  unsigned hidden = 0;
};

ProcessControls CurrentControls();

// Base of every object the DLL hands out; keeps the live count and lets DllCanUnloadNow answer.
class LiveObject {
 public:
  LiveObject();
  LiveObject(const LiveObject&);
  LiveObject& operator=(const LiveObject&) = default;
  virtual ~LiveObject();
};

long LiveObjectCount();
void NoteFilterCreated();
void SetLastLoadError(const std::string& text);
// Called just before a subtitle pin delivers end of stream.
void NoteEndOfStream();
// Called by the methods a caller may use from a thread of its own (AbortOperation, a reader's
// BeginFlush): counts the calls from a thread that never entered a COM apartment itself, as COM
// asks of every thread that calls an object; one that is only in the implicit multithreaded
// apartment counts.
void NoteCallerApartment();

}  // namespace kavo::standin
