// A stand-in for the host's core library, built as "libvlccore.dll" for tests only. It exports the
// core functions the plug-in looks up and records every call as one line of text with the
// performance counter at that moment, which a test reads back through the recorder_* exports. Log
// lines (vlc_Log) are kept apart from the other calls, with their format expanded as the host's own
// loggers expand it. Like the host, input_item_SetMeta stores the value in the item's meta record
// (strings first), making the record an item lacks; an extra added to the item's record while the
// item's lock is not held through vlc_mutex_lock is recorded with " (item unlocked)".
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
std::list<std::string> metaTexts;  // what the records point at, kept for good
// From the hosts' headers, independently of the plug-in: p_meta and the item's lock per shape (-1:
// not the same in every build of the shape); a test may move p_meta as an early build had it.
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr std::ptrdiff_t kItemMeta[3] = {kWin64 ? 112 : 64, kWin64 ? 104 : 60, kWin64 ? 104 : 60};
constexpr std::ptrdiff_t kItemLock[3] = {kWin64 ? 256 : 148, -1, kWin64 ? 344 : 220};
std::ptrdiff_t movedItemMeta = -1;

// Under `lock`: the item's p_meta member.
void*& ItemMeta(void* target, int currentShape) {
  const std::ptrdiff_t at = movedItemMeta >= 0 ? movedItemMeta : kItemMeta[currentShape];
  return *reinterpret_cast<void**>(static_cast<char*>(target) + at);
}

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

// One thread's interrupt context: a kill marks it for good and calls the wake-up registered on
// it, under its lock; unregistering takes the same lock, so a wake-up never runs after it.
struct InterruptContext {
  std::mutex lock;
  bool interrupted = false;
  std::atomic<bool> killed{false};
  void (*wake)(void*) = nullptr;
  void* data = nullptr;
};

thread_local InterruptContext* currentContext = nullptr;
std::vector<const void*> killedObjects;                   // under `lock`
std::vector<std::pair<std::string, long long>> integers;  // under `lock`

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
  {
    std::lock_guard<std::mutex> guard(lock);
    logLines.push_back(priorityName + " " + Quoted(module) + " " + Pointer(object) + place + ": " +
                       text);
  }
  recorded.notify_all();
}

__declspec(dllexport) void* input_GetItem(void* input) {
  Record("input_GetItem " + Pointer(input));
  std::lock_guard<std::mutex> guard(lock);
  return item;
}

__declspec(dllexport) void input_item_SetMeta(void* target, int type, const char* value) {
  const int currentShape = CurrentShape();
  if (target && type >= 0 && type < 64) {
    std::lock_guard<std::mutex> guard(lock);
    void*& meta = ItemMeta(target, currentShape);
    if (!meta) meta = std::calloc(64, sizeof(void*));  // as vlc_meta_New; never freed here
    static_cast<const char**>(meta)[type] =
        value ? metaTexts.insert(metaTexts.end(), value)->c_str() : nullptr;
  }
  Record("input_item_SetMeta " + Pointer(target) + " " + Number(type) + " " + Quoted(value));
}

__declspec(dllexport) void vlc_meta_AddExtra(void* meta, const char* key, const char* value) {
  const int currentShape = CurrentShape();
  bool unlocked = false;
  {
    std::lock_guard<std::mutex> guard(lock);
    const std::ptrdiff_t at = kItemLock[currentShape];
    unlocked = item && at >= 0 && meta == ItemMeta(item, currentShape) &&
               heldMutexes.count(static_cast<char*>(item) + at) == 0;
  }
  Record("vlc_meta_AddExtra " + Pointer(meta) + " " + Quoted(key) + " " + Quoted(value) +
         (unlocked ? " (item unlocked)" : ""));
}

__declspec(dllexport) void vlc_mutex_lock(void* mutex) {
  std::lock_guard<std::mutex> guard(lock);
  heldMutexes.insert(mutex);
}

__declspec(dllexport) void vlc_mutex_unlock(void* mutex) {
  std::lock_guard<std::mutex> guard(lock);
  const auto held = heldMutexes.find(mutex);
  if (held != heldMutexes.end()) heldMutexes.erase(held);
}

__declspec(dllexport) int var_SetChecked(void* object, const char* name, int type, VlcValue value) {
  char number[64];
  std::snprintf(number, sizeof number, "%.9g", static_cast<double>(value.f_float));
  Record("var_SetChecked " + Pointer(object) + " " + Quoted(name) + " " + Number(type) + " " +
         number);
  return 0;
}

// --- Stopping: the 3.0 interrupt contexts and the 2.2 killed objects, as the hosts keep them ---

__declspec(dllexport) InterruptContext* vlc_interrupt_create() { return new InterruptContext; }
__declspec(dllexport) void vlc_interrupt_destroy(InterruptContext* context) { delete context; }

__declspec(dllexport) InterruptContext* vlc_interrupt_set(InterruptContext* context) {
  InterruptContext* const old = currentContext;
  currentContext = context;
  return old;
}

__declspec(dllexport) void vlc_interrupt_raise(InterruptContext* context) {
  std::lock_guard<std::mutex> guard(context->lock);
  context->interrupted = true;
  if (context->wake) context->wake(context->data);
}

__declspec(dllexport) void vlc_interrupt_kill(InterruptContext* context) {
  context->killed = true;
  vlc_interrupt_raise(context);
}

__declspec(dllexport) void vlc_interrupt_register(void (*wake)(void*), void* data) {
  InterruptContext* const context = currentContext;
  if (!context) return;
  std::lock_guard<std::mutex> guard(context->lock);
  if (context->wake) {
    Record("vlc_interrupt_register while registered");  // the host asserts against this
    return;
  }
  context->wake = wake;
  context->data = data;
  if (context->interrupted) wake(data);
}

__declspec(dllexport) int vlc_interrupt_unregister() {
  InterruptContext* const context = currentContext;
  if (!context) return 0;
  std::lock_guard<std::mutex> guard(context->lock);
  context->wake = nullptr;
  const bool interrupted = context->interrupted;
  context->interrupted = false;
  return interrupted ? 4 /* EINTR */ : 0;
}

__declspec(dllexport) bool vlc_killed() { return currentContext && currentContext->killed; }

__declspec(dllexport) bool vlc_object_alive(const void* object) {
  std::lock_guard<std::mutex> guard(lock);
  return std::find(killedObjects.begin(), killedObjects.end(), object) == killedObjects.end();
}

// (object, name, type, vlc_value_t*): integers a test set, else the error of a missing variable.
__declspec(dllexport) int var_Inherit(void*, const char* name, int type, VlcValue* value) {
  std::lock_guard<std::mutex> guard(lock);
  for (const auto& [known, number] : integers) {
    if (type == 0x0030 && known == name) {
      value->i_int = number;
      return 0;
    }
  }
  return -1;
}

// --- What tests use to steer and read the recorder ---

// The host kills an access object, as a 2.2 input does when it stops.
__declspec(dllexport) void recorder_KillObject(const void* object) {
  std::lock_guard<std::mutex> guard(lock);
  killedObjects.push_back(object);
}

// The integer var_Inherit answers for `name` from now on.
__declspec(dllexport) void recorder_SetInteger(const char* name, long long value) {
  std::lock_guard<std::mutex> guard(lock);
  integers.emplace_back(name, value);
}

__declspec(dllexport) void recorder_Reset(int hostShape, void* inputItem) {
  std::lock_guard<std::mutex> guard(lock);
  calls.clear();
  times.clear();
  logLines.clear();
  shape = hostShape;
  item = inputItem;
  killedObjects.clear();
  integers.clear();
  controlResult = 0;
  heldMutexes.clear();
  movedItemMeta = -1;
}

// Until the next reset, the item keeps p_meta at `offset`.
__declspec(dllexport) void recorder_MoveItemMeta(std::ptrdiff_t offset) {
  std::lock_guard<std::mutex> guard(lock);
  movedItemMeta = offset;
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

// Waits until more than `callCount` calls or more than `lineCount` log lines are recorded, or
// timeoutMs has passed; 1 when there are.
__declspec(dllexport) int recorder_WaitForMore(int callCount, int lineCount, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return recorded.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [callCount, lineCount] {
                             return static_cast<int>(calls.size()) > callCount ||
                                    static_cast<int>(logLines.size()) > lineCount;
                           })
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
