#include "standin/async_file_reader.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <chrono>

namespace kavo::standin {

using Microsoft::WRL::ComPtr;

AsyncFileReader::AsyncFileReader(IPin& owner, FileHandle file, std::uint64_t size,
                                 const ReaderFaults& faults)
    : owner_(owner),
      file_(std::move(file)),
      size_(size),
      faults_(faults),
      arrivingFrom_(Clock::now()) {}

// A caller may still be waiting inside when the last reference goes (its own thread released
// it): it is woken with VFW_E_WRONG_STATE, and the members live until it has left.
AsyncFileReader::~AsyncFileReader() {
  std::unique_lock<std::mutex> guard(requestLock_);
  closing_ = true;
  requestDone_.notify_all();
  requestDone_.wait(guard, [this] { return waiters_ == 0; });
}

std::uint64_t AsyncFileReader::Limit() const {
  return faults_.shortAt ? std::min(size_, *faults_.shortAt) : size_;
}

std::uint64_t AsyncFileReader::ArrivedBy(Clock::time_point when) const {
  std::uint64_t arrived = size_;
  if (faults_.bytesPerSecond) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(when - arrivingFrom_).count();
    const auto micros = static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0));
    // Whole seconds and the rest apart, so that large rates and long runs do not overflow.
    arrived = std::min(arrived, micros / 1000000 * faults_.bytesPerSecond +
                                    micros % 1000000 * faults_.bytesPerSecond / 1000000);
  }
  if (faults_.stallAt) arrived = std::min(arrived, *faults_.stallAt);
  return arrived;
}

std::optional<AsyncFileReader::Clock::time_point> AsyncFileReader::ArrivalOf(
    std::uint64_t end) const {
  if (faults_.stallAt && end > *faults_.stallAt) return std::nullopt;
  if (!faults_.bytesPerSecond) return arrivingFrom_;
  const std::uint64_t rate = faults_.bytesPerSecond;
  const std::uint64_t micros = end / rate * 1000000 + (end % rate * 1000000 + rate - 1) / rate;
  return arrivingFrom_ + std::chrono::microseconds(micros);
}

HRESULT AsyncFileReader::AwaitArrival(std::uint64_t end) {
  std::unique_lock<std::mutex> guard(requestLock_);
  const unsigned stopsSeen = stops_;
  const std::optional<Clock::time_point> due = ArrivalOf(end);
  ++waiters_;
  HRESULT result = S_OK;
  while (!due || Clock::now() < *due) {
    if (Interrupted(stopsSeen)) {
      result = VFW_E_WRONG_STATE;
      break;
    }
    if (due) {
      requestDone_.wait_until(guard, *due);
    } else {
      requestDone_.wait(guard);
    }
  }
  if (--waiters_ == 0 && closing_) requestDone_.notify_all();
  return result;
}

HRESULT AsyncFileReader::AwaitRun() {
  std::unique_lock<std::mutex> guard(requestLock_);
  const unsigned stopsSeen = stops_;
  ++waiters_;
  HRESULT result = S_OK;
  while (Held()) {
    if (Interrupted(stopsSeen)) {
      result = VFW_E_WRONG_STATE;
      break;
    }
    requestDone_.wait(guard);
  }
  if (--waiters_ == 0 && closing_) requestDone_.notify_all();
  return result;
}

void AsyncFileReader::SetRunning(bool running) {
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    running_ = running;
  }
  requestDone_.notify_all();
}

HRESULT AsyncFileReader::OpenFile(const std::wstring& path, FileHandle& file, std::uint64_t& size) {
  FileHandle opened(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!opened.valid()) return HRESULT_FROM_WIN32(GetLastError());
  LARGE_INTEGER length;
  if (!GetFileSizeEx(opened.get(), &length)) return HRESULT_FROM_WIN32(GetLastError());
  size = static_cast<std::uint64_t>(length.QuadPart);
  file = std::move(opened);
  return S_OK;
}

STDMETHODIMP AsyncFileReader::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IAsyncReader)) {
    *object = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  return owner_.QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) AsyncFileReader::AddRef() { return owner_.AddRef(); }
STDMETHODIMP_(ULONG) AsyncFileReader::Release() { return owner_.Release(); }

HRESULT AsyncFileReader::Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got, bool wait) {
  got = 0;
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (length > 0 && !buffer) return E_POINTER;
  const auto start = static_cast<std::uint64_t>(position);
  const std::uint64_t end = start + static_cast<std::uint64_t>(length);
  if (faults_.estimatedLength && end >= *faults_.estimatedLength) estimateReached_ = true;
  if (faults_.failAt && *faults_.failAt >= start && *faults_.failAt < end) return E_FAIL;
  const std::uint64_t limit = Limit();
  const std::uint64_t wanted = start >= limit ? 0 : std::min<std::uint64_t>(length, limit - start);
  if (wait && faults_.needsRun) {
    const HRESULT ran = AwaitRun();
    if (FAILED(ran)) return ran;
  }
  if (wait && wanted > 0 && Networked() && ArrivedBy(Clock::now()) < start + wanted) {
    const HRESULT arrived = AwaitArrival(start + wanted);
    if (FAILED(arrived)) return arrived;
  }
  while (static_cast<std::uint64_t>(got) < wanted) {
    // A positional read: the handle's own file pointer is never relied on, so threads don't race.
    OVERLAPPED at = {};
    const std::uint64_t offset = start + static_cast<std::uint64_t>(got);
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    if (!ReadFile(file_.get(), buffer + got, static_cast<DWORD>(wanted - got), &count, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return HRESULT_FROM_WIN32(error);
    }
    if (count == 0) break;
    got += static_cast<LONG>(count);
  }
  return got == length ? S_OK : S_FALSE;
}

STDMETHODIMP AsyncFileReader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  LONG got = 0;
  return Read(position, length, buffer, got, true);
}

// Both outputs are written unconditionally, as readers written the usual way do: a caller that
// passes null for either crashes here as it would there.
STDMETHODIMP AsyncFileReader::Length(LONGLONG* total, LONGLONG* available) {
  if (faults_.lengthFails) return E_FAIL;
  const bool estimating = faults_.estimatedLength && !estimateReached_;
  *total = static_cast<LONGLONG>(estimating ? *faults_.estimatedLength : size_);
  *available = Networked()
                   ? static_cast<LONGLONG>(std::min<std::uint64_t>(ArrivedBy(Clock::now()), *total))
                   : *total;
  return estimating ? VFW_S_ESTIMATED : S_OK;
}

STDMETHODIMP AsyncFileReader::RequestAllocator(IMemAllocator* preferred,
                                               ALLOCATOR_PROPERTIES* properties,
                                               IMemAllocator** actual) {
  if (!properties || !actual) return E_POINTER;
  *actual = nullptr;
  ComPtr<IMemAllocator> allocator(preferred);
  if (!allocator) {
    const HRESULT created =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(allocator.GetAddressOf()));
    if (FAILED(created)) return created;
  }
  // Its own alignment is 1: whatever the caller asks for is a multiple of it.
  ALLOCATOR_PROPERTIES wanted = *properties;
  wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
  wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 1);
  ALLOCATOR_PROPERTIES granted = {};
  const HRESULT set = allocator->SetProperties(&wanted, &granted);
  if (FAILED(set)) return set;
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    buffers_ = std::max<LONG>(granted.cBuffers, 1);
    align_ = std::max<LONG>(granted.cbAlign, 1);
  }
  *properties = granted;
  *actual = allocator.Detach();
  return S_OK;
}

HRESULT AsyncFileReader::FillSample(IMediaSample* sample, bool wait, bool asRequest) {
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const HRESULT timed = sample->GetTime(&start, &stop);
  if (FAILED(timed)) return timed;
  // Positions travel as byte offsets times 10,000,000 in the sample's time stamps.
  const LONGLONG position = start / 10000000;
  const LONGLONG wanted = stop / 10000000 - position;
  BYTE* data = nullptr;
  const HRESULT pointed = sample->GetPointer(&data);
  if (FAILED(pointed)) return pointed;
  if (wanted < 0 || wanted > sample->GetSize()) return E_INVALIDARG;
  LONG got = 0;
  HRESULT read = Read(position, static_cast<LONG>(wanted), data, got, wait);
  if (asRequest && read == S_FALSE) {
    // As the platform's readers answer a request: cut short by the file's end it is complete,
    // ending where the bytes end; cut short before it (a stream that broke off) it failed.
    read = static_cast<std::uint64_t>(position) + static_cast<std::uint64_t>(got) < size_ ? E_FAIL
                                                                                          : S_OK;
    stop = start + static_cast<REFERENCE_TIME>(got) * 10000000;
    sample->SetTime(&start, &stop);
  }
  sample->SetActualDataLength(SUCCEEDED(read) ? got : 0);
  return read;
}

STDMETHODIMP AsyncFileReader::Request(IMediaSample* sample, DWORD_PTR user) {
  if (!sample) return E_POINTER;
  if (faults_.requestFails) return *faults_.requestFails;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const HRESULT timed = sample->GetTime(&start, &stop);
  if (FAILED(timed)) return timed;
  const LONGLONG position = start / 10000000;
  const LONGLONG last = stop / 10000000;
  BYTE* data = nullptr;
  const HRESULT pointed = sample->GetPointer(&data);
  if (FAILED(pointed)) return pointed;
  if (position < 0 || last < position || last - position > sample->GetSize()) return E_INVALIDARG;
  if (static_cast<std::uint64_t>(position) >= size_) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  // The request needs the bytes before this end, as far as there are any.
  const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(last), Limit());
  try {
    std::unique_lock<std::mutex> guard(requestLock_);
    // Refused cleanly where a platform reader would fail an assertion: a caller that skipped
    // RequestAllocator, or has more requests out than the buffers it agreed on.
    if (outstanding_ >= buffers_) return VFW_E_NO_ALLOCATOR;
    if (!Aligned(position, last, data)) return VFW_E_BADALIGN;
    if (flushing_) return VFW_E_WRONG_STATE;
    if (Held() || (Networked() && ArrivedBy(Clock::now()) < end)) {
      // Not here yet: a WaitForNext completes it once its bytes have arrived (and the filter runs,
      // where it must).
      pending_.push_back(Pending{sample, user, end});
      ++outstanding_;
      requestDone_.notify_all();
      return S_OK;
    }
    ++outstanding_;
    guard.unlock();
    const HRESULT result = FillSample(sample, false, true);
    guard.lock();
    if (!Complete(sample, user, result)) return E_OUTOFMEMORY;
    if (waiters_ == 0) return S_OK;  // nobody to wake: the next WaitForNext finds it
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  requestDone_.notify_one();
  return S_OK;
}

std::vector<AsyncFileReader::Pending>::iterator AsyncFileReader::NextDue(
    std::optional<Clock::time_point>& due) {
  auto next = std::min_element(pending_.begin(), pending_.end(),
                               [this](const Pending& a, const Pending& b) {
                                 const auto dueA = ArrivalOf(a.end);
                                 const auto dueB = ArrivalOf(b.end);
                                 return dueA && (!dueB || *dueA < *dueB);
                               });
  due = next == pending_.end() ? std::nullopt : ArrivalOf(next->end);
  return next;
}

bool AsyncFileReader::Aligned(LONGLONG position, LONGLONG last, const BYTE* data) const {
  return position % align_ == 0 && last % align_ == 0 &&
         reinterpret_cast<std::uintptr_t>(data) % static_cast<std::uintptr_t>(align_) == 0;
}

bool AsyncFileReader::Complete(IMediaSample* sample, DWORD_PTR user, HRESULT result) {
  try {
    completed_.push_back(Completed{sample, user, result});
    return true;
  } catch (const std::bad_alloc&) {
    --outstanding_;
    return false;
  }
}

STDMETHODIMP AsyncFileReader::WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) {
  if (!sample || !user) return E_POINTER;
  *sample = nullptr;
  *user = 0;
  std::unique_lock<std::mutex> guard(requestLock_);
  // Read only once something has to be waited for: the usual answer, a done request, needs none.
  std::optional<Clock::time_point> deadline;
  ++waiters_;
  HRESULT result = VFW_E_TIMEOUT;
  IMediaSample* done = nullptr;
  for (;;) {
    if (!completed_.empty()) {
      done = completed_.front().sample;
      *user = completed_.front().user;
      result = completed_.front().result;
      completed_.pop_front();
      break;
    }
    if (closing_) {
      result = VFW_E_WRONG_STATE;
      break;
    }
    // A flush hands every queued request back unread, one per call, then says so empty-handed;
    // under flush_waits only once BeginFlush has seen them all done.
    if (flushing_ && !draining_) {
      result = VFW_E_WRONG_STATE;
      if (!pending_.empty()) {
        done = pending_.front().sample;
        *user = pending_.front().user;
        pending_.erase(pending_.begin());
      }
      break;
    }
    std::optional<Clock::time_point> due;
    const auto next = NextDue(due);
    const Clock::time_point now = Clock::now();
    if (!deadline) deadline = now + std::chrono::milliseconds(timeout);
    if (due && *due <= now && !Held()) {
      done = next->sample;
      *user = next->user;
      pending_.erase(next);
      guard.unlock();
      result = FillSample(done, false, true);
      guard.lock();
      break;
    }
    if (timeout != INFINITE && now >= *deadline) break;
    const bool untilDue = due && !Held() && (timeout == INFINITE || *due < *deadline);
    if (untilDue) {
      requestDone_.wait_until(guard, *due);
    } else if (timeout != INFINITE) {
      requestDone_.wait_until(guard, *deadline);
    } else {
      requestDone_.wait(guard);
    }
  }
  if (done) --outstanding_;
  if (--waiters_ == 0 && closing_) requestDone_.notify_all();
  // The caller's own pointer, with no reference added: it kept its own throughout.
  *sample = done;
  return result;
}

STDMETHODIMP AsyncFileReader::SyncReadAligned(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  BYTE* data = nullptr;
  const HRESULT timed = sample->GetTime(&start, &stop);
  if (FAILED(timed)) return timed;
  const HRESULT pointed = sample->GetPointer(&data);
  if (FAILED(pointed)) return pointed;
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    if (!Aligned(start / 10000000, stop / 10000000, data)) return VFW_E_BADALIGN;
  }
  return FillSample(sample, true, false);
}

void AsyncFileReader::Interrupt() {
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    ++stops_;
    // One that cannot be handed back is dropped, and its caller waits in vain.
    for (const Pending& request : pending_)
      Complete(request.sample, request.user, VFW_E_WRONG_STATE);
    pending_.clear();
  }
  requestDone_.notify_all();
}

STDMETHODIMP AsyncFileReader::BeginFlush() {
  NoteCallerApartment();
  std::unique_lock<std::mutex> guard(requestLock_);
  flushing_ = true;
  requestDone_.notify_all();
  if (!faults_.flushWaits) return S_OK;
  // As the platform's async reader classes flush: every request already taken first gets its
  // bytes, however long they take; only the filter's stop or the reader's end cuts that short.
  const unsigned stopsSeen = stops_;
  draining_ = true;
  ++waiters_;
  while (!pending_.empty() && !Interrupted(stopsSeen)) {
    std::optional<Clock::time_point> due;
    const auto next = NextDue(due);
    if (due && *due <= Clock::now() && !Held()) {
      const Pending request = *next;
      pending_.erase(next);
      guard.unlock();
      const HRESULT result = FillSample(request.sample, false, true);
      guard.lock();
      Complete(request.sample, request.user, result);
    } else if (due && !Held()) {
      requestDone_.wait_until(guard, *due);
    } else {
      requestDone_.wait(guard);
    }
  }
  draining_ = false;
  --waiters_;
  requestDone_.notify_all();
  return S_OK;
}

STDMETHODIMP AsyncFileReader::EndFlush() {
  std::lock_guard<std::mutex> guard(requestLock_);
  flushing_ = false;
  return S_OK;
}

}  // namespace kavo::standin
