// A stand-in for the host's core library, built as "libvlccore.dll" for tests only. It exports the
// core functions the plug-in looks up and records every call as one line of text with the
// performance counter at that moment, which a test reads back through the recorder_* exports. Log
// lines (vlc_Log) are kept apart from the other calls, with their format expanded as the host's own
// loggers expand it. Like the host, input_item_SetMeta stores a copy of the value in the item's
// meta record (an array of strings at its start), creating the record when the item has none; an
// extra added to the item's record while the item's lock is free is recorded with
// " (item unlocked)", a field set while it is held with " (item locked)".
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

union VlcValue {
  std::int64_t i_int;
  float f_float;
  void* p_address;
};

std::mutex lock;
std::condition_variable recorded;
std::vector<std::string> calls;
std::vector<long long> times;
std::vector<std::string> logLines;
// 0: 2.2, 1: 3.0 development, 2: 3.0 release (decides the arguments of input_Control and vlc_Log)
int shape = 0;
// A thread's own shape, for a test that plays several hosts at once (-1: the shared one).
thread_local int threadShape = -1;
void* item = nullptr;
int controlResult = 0;
std::multiset<const void*> heldMutexes;
std::list<std::string> metaTexts;  // every value stored in a record, kept for good

// From the hosts' headers, independently of the plug-in: p_meta and the lock inside input_item_t
// per shape, x86-64 then x86 (-1: the lock differs between the builds of that shape).
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr std::ptrdiff_t kItemMeta[3] = {kWin64 ? 112 : 64, kWin64 ? 104 : 60, kWin64 ? 104 : 60};
constexpr std::ptrdiff_t kItemLock[3] = {kWin64 ? 256 : 148, -1, kWin64 ? 344 : 220};
std::ptrdiff_t itemMetaOverride = -1;  // an early build's p_meta, for a test

std::string Pointer(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  return text;
}

std::string Quoted(const char* s) { return s ? "\"" + std::string(s) + "\"" : "null"; }

std::string Number(long long n) { return std::to_string(n); }

int CurrentShape() {
  if (threadShape >= 0) return threadShape;
  std::lock_guard<std::mutex> guard(lock);
  return shape;
}

// Under `lock`: where the current shape keeps p_meta and the lock inside `target`.
std::ptrdiff_t MetaOffset(int currentShape) {
  return itemMetaOverride >= 0 ? itemMetaOverride : kItemMeta[currentShape];
}
void* ItemMeta(void* target, int currentShape) {
  void* meta = nullptr;
  std::memcpy(&meta, static_cast<char*>(target) + MetaOffset(currentShape), sizeof meta);
  return meta;
}
bool ItemLockHeld(void* target, int currentShape) {
  const std::ptrdiff_t offset = kItemLock[currentShape];
  return offset >= 0 && heldMutexes.count(static_cast<char*>(target) + offset) > 0;
}

void Record(std::string line) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(line));
    times.push_back(now.QuadPart);
  }
  recorded.notify_all();
}

}  // namespace

extern "C" {

__declspec(dllexport) int input_Control(void* input, int query, ...) {
  std::string line = "input_Control " + Pointer(input) + " " + Number(query);
  va_list args;
  va_start(args, query);
  const int currentShape = CurrentShape();
  if (currentShape == 0 && query == 35) {
    line += " " + Quoted(va_arg(args, const char*));
  } else if (currentShape == 0 && query == 36) {
    const char* path = va_arg(args, const char*);
    line += " " + Quoted(path) + " " + Number(va_arg(args, int));
  } else if (currentShape == 1 && query == 38) {
    const int type = va_arg(args, int);
    const char* address = va_arg(args, const char*);
    line += " " + Number(type) + " " + Quoted(address) + " " + Number(va_arg(args, int));
  } else if (currentShape == 1 && query == 39) {
    const char* path = va_arg(args, const char*);
    line += " " + Quoted(path) + " " + Number(va_arg(args, int));
  } else if (currentShape == 2 && query == 36) {
    const int type = va_arg(args, int);
    const char* uri = va_arg(args, const char*);
    const int forced = va_arg(args, int);
    const int notify = va_arg(args, int);
    const int checkExtension = va_arg(args, int);
    line += " " + Number(type) + " " + Quoted(uri) + " " + Number(forced) + " " + Number(notify) +
            " " + Number(checkExtension);
  }
  va_end(args);
  Record(line);
  std::lock_guard<std::mutex> guard(lock);
  return controlResult;
}

// 2.2: (object, priority, module, format, ...); 3.0: (object, priority, module, file, line,
// function, format, ...). Recorded as "<priority> <module> <object>: <text>", with " (no source
// place)" before the colon when a 3.0 call lacks its file, line or function.
__declspec(dllexport) void vlc_Log(void* object, int priority, const char* module, ...) {
  static const char* const kPriorities[] = {"info", "error", "warning", "debug"};
  va_list args;
  va_start(args, module);
  const int currentShape = CurrentShape();
  std::string place;
  if (currentShape != 0) {
    const char* file = va_arg(args, const char*);
    const unsigned line = va_arg(args, unsigned);
    const char* function = va_arg(args, const char*);
    if (!file || !*file || line == 0 || !function || !*function) place = " (no source place)";
  }
  const char* format = va_arg(args, const char*);
  char text[4096];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string priorityName =
      priority >= 0 && priority < 4 ? kPriorities[priority] : "priority " + Number(priority);
  std::lock_guard<std::mutex> guard(lock);
  logLines.push_back(priorityName + " " + Quoted(module) + " " + Pointer(object) + place + ": " +
                     text);
}

__declspec(dllexport) void* input_GetItem(void* input) {
  Record("input_GetItem " + Pointer(input));
  std::lock_guard<std::mutex> guard(lock);
  return item;
}

__declspec(dllexport) void input_item_SetMeta(void* target, int type, const char* value) {
  const int currentShape = CurrentShape();
  std::string note;
  if (target && type >= 0 && type < 32) {
    std::lock_guard<std::mutex> guard(lock);
    if (ItemLockHeld(target, currentShape)) note = " (item locked)";
    void* meta = ItemMeta(target, currentShape);
    if (!meta) {
      meta = std::calloc(1, 64 * sizeof(void*));  // the host's vlc_meta_New, never freed here
      std::memcpy(static_cast<char*>(target) + MetaOffset(currentShape), &meta, sizeof meta);
    }
    const char* text = nullptr;
    if (value) text = metaTexts.insert(metaTexts.end(), value)->c_str();
    std::memcpy(static_cast<char*>(meta) + type * sizeof(void*), &text, sizeof text);
  }
  Record("input_item_SetMeta " + Pointer(target) + " " + Number(type) + " " + Quoted(value) + note);
}

__declspec(dllexport) void vlc_meta_AddExtra(void* meta, const char* key, const char* value) {
  const int currentShape = CurrentShape();
  std::string note;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (item && meta == ItemMeta(item, currentShape) && kItemLock[currentShape] >= 0 &&
        !ItemLockHeld(item, currentShape))
      note = " (item unlocked)";
  }
  Record("vlc_meta_AddExtra " + Pointer(meta) + " " + Quoted(key) + " " + Quoted(value) + note);
}

__declspec(dllexport) void vlc_mutex_lock(void* mutex) {
  std::lock_guard<std::mutex> guard(lock);
  heldMutexes.insert(mutex);
}

__declspec(dllexport) void vlc_mutex_unlock(void* mutex) {
  bool held = false;
  {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = heldMutexes.find(mutex);
    held = found != heldMutexes.end();
    if (held) heldMutexes.erase(found);
  }
  if (!held) Record("vlc_mutex_unlock " + Pointer(mutex) + " (not held)");
}

__declspec(dllexport) int var_SetChecked(void* object, const char* name, int type, VlcValue value) {
  char number[64];
  std::snprintf(number, sizeof number, "%.9g", static_cast<double>(value.f_float));
  Record("var_SetChecked " + Pointer(object) + " " + Quoted(name) + " " + Number(type) + " " +
         number);
  return 0;
}

// --- What tests use to steer and read the recorder ---

__declspec(dllexport) void recorder_Reset(int hostShape, void* inputItem) {
  std::lock_guard<std::mutex> guard(lock);
  calls.clear();
  times.clear();
  logLines.clear();
  shape = hostShape;
  item = inputItem;
  controlResult = 0;
  heldMutexes.clear();
  itemMetaOverride = -1;
}

// From now until the next reset, p_meta sits at `offset` inside the item (an early build's
// layout); -1 goes back to the shape's own.
__declspec(dllexport) void recorder_SetItemMeta(std::ptrdiff_t offset) {
  std::lock_guard<std::mutex> guard(lock);
  itemMetaOverride = offset;
}

// Mutexes taken through vlc_mutex_lock and not yet given back.
__declspec(dllexport) int recorder_HeldMutexes() {
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<int>(heldMutexes.size());
}

__declspec(dllexport) void recorder_SetThreadShape(int hostShape) { threadShape = hostShape; }

__declspec(dllexport) int recorder_CallCount() {
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<int>(calls.size());
}

// Waits until at least `count` calls are recorded or timeoutMs has passed; 1 when they are.
__declspec(dllexport) int recorder_WaitForCalls(int count, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return recorded.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [count] { return static_cast<int>(calls.size()) >= count; })
             ? 1
             : 0;
}

// The performance counter when call `index` was recorded, or 0.
__declspec(dllexport) long long recorder_CallTime(int index) {
  std::lock_guard<std::mutex> guard(lock);
  return index >= 0 && index < static_cast<int>(times.size()) ? times[static_cast<size_t>(index)]
                                                              : 0;
}

// Copies line `index` of the calls (log 0) or of the log lines (log 1) into buffer (NUL-terminated,
// cut to size); returns its full length or -1 past the last line.
__declspec(dllexport) int recorder_Line(int log, int index, char* buffer, int size) {
  std::lock_guard<std::mutex> guard(lock);
  const std::vector<std::string>& lines = log ? logLines : calls;
  if (index < 0 || index >= static_cast<int>(lines.size())) return -1;
  const std::string& line = lines[static_cast<size_t>(index)];
  if (size > 0) {
    const size_t n = std::min(line.size(), static_cast<size_t>(size - 1));
    line.copy(buffer, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(line.size());
}

}  // extern "C"
