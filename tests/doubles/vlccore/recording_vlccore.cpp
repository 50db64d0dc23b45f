// A stand-in for the host's core library, built as "libvlccore.dll" for tests only. It exports the
// core functions the plug-in looks up and records every call as one line of text with the
// performance counter at that moment, which a test reads back through the recorder_* exports. Log
// lines (vlc_Log) are kept apart from the other calls, with their format expanded as the host's own
// loggers expand it.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
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
  Record("input_item_SetMeta " + Pointer(target) + " " + Number(type) + " " + Quoted(value));
}

__declspec(dllexport) void vlc_meta_AddExtra(void* meta, const char* key, const char* value) {
  Record("vlc_meta_AddExtra " + Pointer(meta) + " " + Quoted(key) + " " + Quoted(value));
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
