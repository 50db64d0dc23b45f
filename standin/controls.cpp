#include "standin/controls.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace kavo::standin {
namespace {

std::mutex lock;
ProcessControls controls;
std::string lastLoadError;
std::atomic<long> liveObjects{0};
std::atomic<long> filtersCreated{0};
std::atomic<long long> lastEndOfStream{0};  // performance counter
std::atomic<long> callsOutsideCom{0};

}  // namespace

ProcessControls CurrentControls() {
  std::lock_guard<std::mutex> guard(lock);
  return controls;
}

LiveObject::LiveObject() { ++liveObjects; }
LiveObject::LiveObject(const LiveObject&) { ++liveObjects; }
LiveObject::~LiveObject() { --liveObjects; }

long LiveObjectCount() { return liveObjects.load(); }
void NoteFilterCreated() { ++filtersCreated; }

void NoteEndOfStream() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  lastEndOfStream = now.QuadPart;
}

void NoteCallerApartment() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(CoGetApartmentType(&type, &qualifier)) || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA)
    ++callsOutsideCom;
}

void SetLastLoadError(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock);
  lastLoadError = text;
}

}  // namespace kavo::standin

using kavo::standin::controls;
using kavo::standin::lock;

extern "C" {

void standin_Reset() {
  std::lock_guard<std::mutex> guard(lock);
  controls = kavo::standin::ProcessControls();
  kavo::standin::lastLoadError.clear();
  kavo::standin::filtersCreated = 0;
  kavo::standin::lastEndOfStream = 0;
  kavo::standin::callsOutsideCom = 0;
}

void standin_SetCreateFailure(HRESULT result) {
  std::lock_guard<std::mutex> guard(lock);
  controls.createFailure = result;
}

void standin_SetVersion(ULONG version) {
  std::lock_guard<std::mutex> guard(lock);
  controls.version = version;
}

void standin_SetNormalizeResult(HRESULT result, const wchar_t* normalized) {
  std::lock_guard<std::mutex> guard(lock);
  controls.normalizeForced = true;
  controls.normalizeResult = result;
  controls.normalizeNull = normalized == nullptr;
  controls.normalizeAddress = normalized ? normalized : L"";
}

void standin_SetHiddenInterfaces(unsigned hidden) {
  std::lock_guard<std::mutex> guard(lock);
  controls.hidden = hidden;
}

long standin_LiveObjects() { return kavo::standin::liveObjects.load(); }

long standin_FiltersCreated() { return kavo::standin::filtersCreated.load(); }

// The performance counter when a subtitle pin last delivered end of stream; 0 since Reset.
long long standin_LastEndOfStream() { return kavo::standin::lastEndOfStream.load(); }

// Calls of AbortOperation and of a reader's BeginFlush, since Reset, from a thread that never
// entered a COM apartment itself (being only in the implicit multithreaded one counts).
long standin_CallsOutsideCom() { return kavo::standin::callsOutsideCom.load(); }

// Copies the last Load failure's text (UTF-8, NUL-terminated, cut to size) and returns its full
// length in bytes.
int standin_LastLoadError(char* buffer, int size) {
  std::lock_guard<std::mutex> guard(lock);
  const std::string& text = kavo::standin::lastLoadError;
  if (buffer && size > 0) {
    const size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
  }
  return static_cast<int>(text.size());
}

}  // extern "C"
