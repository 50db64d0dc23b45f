// Watches the COM task allocator of the whole process: which blocks went back, and which blocks
// taken since the last Reset are still out. Registered on first use and never revoked: a revoke
// while blocks are out only completes later, and a second registration is refused until then.
// Thread rule: any thread; the allocator calls it from every thread that allocates.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace kavo::test {

class TaskMemorySpy final : public IMallocSpy {
 public:
  // The process's spy, or nullptr when the allocator refused it.
  static TaskMemorySpy* Registered();

  // Forgets every block seen so far.
  void Reset();
  // True when block went back to the allocator since the last Reset.
  bool WasFreed(void* block);
  // True when a block taken since the last Reset and not given back holds text.
  bool OutstandingBlockHolds(const std::wstring& text);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override;
  STDMETHODIMP_(void*) PostAlloc(void* block) override;
  STDMETHODIMP_(void*) PreFree(void* block, BOOL) override;
  STDMETHODIMP_(void) PostFree(BOOL) override {}
  STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** out, BOOL) override;
  STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override;
  STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
  STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
  STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
  STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  STDMETHODIMP_(void) PreHeapMinimize() override {}
  STDMETHODIMP_(void) PostHeapMinimize() override {}

 private:
  TaskMemorySpy();

  CRITICAL_SECTION lock_;
  std::set<void*> freed_;
  std::map<void*, std::size_t> outstanding_;  // block -> size
};

}  // namespace kavo::test
