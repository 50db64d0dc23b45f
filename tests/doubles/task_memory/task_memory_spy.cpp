#include "task_memory_spy.h"

#include <cstring>

namespace kavo::test {

namespace {

// The size asked for in PreAlloc, for the PostAlloc that follows on the same thread.
thread_local std::size_t pendingSize = 0;

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  ~Locked() { LeaveCriticalSection(&lock_); }

 private:
  CRITICAL_SECTION& lock_;
};

}  // namespace

TaskMemorySpy::TaskMemorySpy() { InitializeCriticalSection(&lock_); }

TaskMemorySpy* TaskMemorySpy::Registered() {
  static TaskMemorySpy* const spy = [] {
    auto* created = new TaskMemorySpy;  // lives as long as the process: never revoked
    return CoRegisterMallocSpy(created) == S_OK ? created : nullptr;
  }();
  return spy;
}

void TaskMemorySpy::Reset() {
  const Locked locked(lock_);
  freed_.clear();
  outstanding_.clear();
}

bool TaskMemorySpy::WasFreed(void* block) {
  const Locked locked(lock_);
  return freed_.count(block) != 0;
}

bool TaskMemorySpy::OutstandingBlockHolds(const std::wstring& text) {
  const std::size_t length = text.size() * sizeof(wchar_t);
  const Locked locked(lock_);
  for (const auto& [block, size] : outstanding_) {
    const char* bytes = static_cast<const char*>(block);
    for (std::size_t at = 0; at + length <= size; ++at) {
      if (std::memcmp(bytes + at, text.data(), length) == 0) return true;
    }
  }
  return false;
}

STDMETHODIMP TaskMemorySpy::QueryInterface(REFIID iid, void** out) {
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IMallocSpy) return E_NOINTERFACE;
  *out = static_cast<IMallocSpy*>(this);
  return S_OK;
}

STDMETHODIMP_(SIZE_T) TaskMemorySpy::PreAlloc(SIZE_T size) {
  pendingSize = size;
  return size;
}

STDMETHODIMP_(void*) TaskMemorySpy::PostAlloc(void* block) {
  if (block) {
    const Locked locked(lock_);
    outstanding_[block] = pendingSize;
  }
  return block;
}

STDMETHODIMP_(void*) TaskMemorySpy::PreFree(void* block, BOOL) {
  const Locked locked(lock_);
  freed_.insert(block);
  outstanding_.erase(block);
  return block;
}

STDMETHODIMP_(SIZE_T) TaskMemorySpy::PreRealloc(void* block, SIZE_T size, void** out, BOOL) {
  {
    const Locked locked(lock_);
    outstanding_.erase(block);
  }
  pendingSize = size;
  *out = block;
  return size;
}

STDMETHODIMP_(void*) TaskMemorySpy::PostRealloc(void* block, BOOL) { return PostAlloc(block); }

}  // namespace kavo::test
