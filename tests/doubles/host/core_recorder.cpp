#include "core_recorder.h"

#include <cstdint>
#include <cstdio>

namespace kavo::test {

bool CoreRecorder::Load() {
  module_ = LoadLibraryW(L"libvlccore.dll");
  if (!module_) return false;
  reset_ = reinterpret_cast<void (*)(int, void*)>(GetProcAddress(module_, "recorder_Reset"));
  count_ = reinterpret_cast<int (*)()>(GetProcAddress(module_, "recorder_CallCount"));
  call_ = reinterpret_cast<int (*)(int, char*, int)>(GetProcAddress(module_, "recorder_Call"));
  callTime_ = reinterpret_cast<long long (*)(int)>(GetProcAddress(module_, "recorder_CallTime"));
  waitForCalls_ =
      reinterpret_cast<int (*)(int, int)>(GetProcAddress(module_, "recorder_WaitForCalls"));
  return reset_ && count_ && call_ && callTime_ && waitForCalls_;
}

void CoreRecorder::Reset(Shape shape, void* inputItem) { reset_(shape, inputItem); }

std::vector<std::string> CoreRecorder::Calls() const {
  std::vector<std::string> lines;
  const int count = count_();
  for (int i = 0; i < count; ++i) {
    const int length = call_(i, nullptr, 0);
    std::string line(static_cast<size_t>(length) + 1, '\0');
    call_(i, &line[0], length + 1);
    line.resize(static_cast<size_t>(length));
    lines.push_back(line);
  }
  return lines;
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

std::string CoreRecorder::Pointer(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  return text;
}

}  // namespace kavo::test
