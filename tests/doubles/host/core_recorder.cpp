#include "core_recorder.h"

#include <cstdint>
#include <cstdio>

namespace kavo::test {

bool CoreRecorder::Load() {
  module_ = LoadLibraryW(L"libvlccore.dll");
  if (!module_) return false;
  reset_ = reinterpret_cast<void (*)(int, void*)>(GetProcAddress(module_, "recorder_Reset"));
  count_ = reinterpret_cast<int (*)()>(GetProcAddress(module_, "recorder_CallCount"));
  callTime_ = reinterpret_cast<long long (*)(int)>(GetProcAddress(module_, "recorder_CallTime"));
  waitForCalls_ =
      reinterpret_cast<int (*)(int, int)>(GetProcAddress(module_, "recorder_WaitForCalls"));
  waitForMore_ =
      reinterpret_cast<int (*)(int, int, int)>(GetProcAddress(module_, "recorder_WaitForMore"));
  line_ = reinterpret_cast<int (*)(int, int, char*, int)>(GetProcAddress(module_, "recorder_Line"));
  threadShape_ =
      reinterpret_cast<void (*)(int)>(GetProcAddress(module_, "recorder_SetThreadShape"));
  moveItemMeta_ =
      reinterpret_cast<void (*)(std::ptrdiff_t)>(GetProcAddress(module_, "recorder_MoveItemMeta"));
  return reset_ && count_ && callTime_ && waitForCalls_ && waitForMore_ && line_ && threadShape_ &&
         moveItemMeta_;
}

void CoreRecorder::Reset(Shape shape, void* inputItem) { reset_(shape, inputItem); }

void CoreRecorder::SetThreadShape(Shape shape) { threadShape_(shape); }

void CoreRecorder::MoveItemMeta(std::ptrdiff_t offset) { moveItemMeta_(offset); }

std::vector<std::string> CoreRecorder::Calls() const { return Lines(0); }

std::vector<std::string> CoreRecorder::LogLines() const { return Lines(1); }

std::vector<std::string> CoreRecorder::Lines(int log) const {
  std::vector<std::string> lines;
  for (int i = 0;; ++i) {
    const int length = line_(log, i, nullptr, 0);
    if (length < 0) return lines;
    std::string line(static_cast<size_t>(length) + 1, '\0');
    line_(log, i, &line[0], length + 1);
    line.resize(static_cast<size_t>(length));
    lines.push_back(line);
  }
}

std::vector<LONGLONG> CoreRecorder::CallTimes() const {
  std::vector<LONGLONG> times;
  const int count = count_();
  for (int i = 0; i < count; ++i) times.push_back(callTime_(i));
  return times;
}

bool CoreRecorder::WaitForCalls(size_t count, DWORD timeoutMs) const {
  return waitForCalls_(static_cast<int>(count), static_cast<int>(timeoutMs)) != 0;
}

void* CoreRecorder::NewInterrupt() const { return Export<void* (*)()>("vlc_interrupt_create")(); }

void CoreRecorder::SetInterrupt(void* context) const {
  Export<void* (*)(void*)>("vlc_interrupt_set")(context);
}

void CoreRecorder::KillInterrupt(void* context) const {
  Export<void (*)(void*)>("vlc_interrupt_kill")(context);
}

void CoreRecorder::RaiseInterrupt(void* context) const {
  Export<void (*)(void*)>("vlc_interrupt_raise")(context);
}

void CoreRecorder::DestroyInterrupt(void* context) const {
  Export<void (*)(void*)>("vlc_interrupt_destroy")(context);
}

void CoreRecorder::KillObject(const void* object) const {
  Export<void (*)(const void*)>("recorder_KillObject")(object);
}

void CoreRecorder::SetInteger(const char* name, long long value) const {
  Export<void (*)(const char*, long long)>("recorder_SetInteger")(name, value);
}

bool CoreRecorder::WaitForMore(size_t calls, size_t lines, DWORD timeoutMs) const {
  return waitForMore_(static_cast<int>(calls), static_cast<int>(lines),
                      static_cast<int>(timeoutMs)) != 0;
}

std::string CoreRecorder::Pointer(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  return text;
}

}  // namespace kavo::test
