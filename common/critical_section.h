// A Windows critical section and its scoped lock, the one lock guard of the tree. The section is
// recursive: the thread that holds it may enter again, which the filter classes rely on when a
// state change calls a hook that locks.
#pragma once

#include <windows.h>

namespace kavo {

class CCritSec {
 public:
  CCritSec() { InitializeCriticalSection(&section_); }
  ~CCritSec() { DeleteCriticalSection(&section_); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;

  void Lock() { EnterCriticalSection(&section_); }
  void Unlock() { LeaveCriticalSection(&section_); }
  // Enters only when no other thread holds the section; true when entered.
  bool TryLock() { return TryEnterCriticalSection(&section_) != FALSE; }
  // For checks of the lock discipline: whether the calling thread holds the section.
  bool OwnedByCurrentThread() const {
    const auto self = static_cast<ULONG_PTR>(GetCurrentThreadId());
    return section_.OwningThread == reinterpret_cast<HANDLE>(self);
  }

 private:
  CRITICAL_SECTION section_;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~CAutoLock() { lock_->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* lock_;
};

}  // namespace kavo
