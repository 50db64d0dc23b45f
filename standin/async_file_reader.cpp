#include "standin/async_file_reader.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <chrono>

namespace kavo::standin {

using Microsoft::WRL::ComPtr;

AsyncFileReader::AsyncFileReader(IPin& owner, FileHandle file, std::uint64_t size,
                                 const ReaderFaults& faults)
    : owner_(owner), file_(std::move(file)), size_(size), faults_(faults) {}

AsyncFileReader::~AsyncFileReader() = default;

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

HRESULT AsyncFileReader::Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got) {
  got = 0;
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (length > 0 && !buffer) return E_POINTER;
  const auto start = static_cast<std::uint64_t>(position);
  const std::uint64_t end = start + static_cast<std::uint64_t>(length);
  if (faults_.estimatedLength && end >= *faults_.estimatedLength) estimateReached_ = true;
  if (faults_.failAt && *faults_.failAt >= start && *faults_.failAt < end) return E_FAIL;
  const std::uint64_t limit = faults_.shortAt ? std::min(size_, *faults_.shortAt) : size_;
  const std::uint64_t wanted = start >= limit ? 0 : std::min<std::uint64_t>(length, limit - start);
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
  return Read(position, length, buffer, got);
}

// Both outputs are written unconditionally, as readers written the usual way do: a caller that
// passes null for either crashes here as it would there.
STDMETHODIMP AsyncFileReader::Length(LONGLONG* total, LONGLONG* available) {
  if (faults_.lengthFails) return E_FAIL;
  const bool estimating = faults_.estimatedLength && !estimateReached_;
  *total = static_cast<LONGLONG>(estimating ? *faults_.estimatedLength : size_);
  *available = *total;
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
  ALLOCATOR_PROPERTIES wanted = *properties;
  wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
  ALLOCATOR_PROPERTIES granted = {};
  const HRESULT set = allocator->SetProperties(&wanted, &granted);
  if (FAILED(set)) return set;
  *actual = allocator.Detach();
  return S_OK;
}

HRESULT AsyncFileReader::FillSample(IMediaSample* sample) {
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
  const HRESULT read = Read(position, static_cast<LONG>(wanted), data, got);
  if (FAILED(read)) return read;
  sample->SetActualDataLength(got);
  return read;
}

STDMETHODIMP AsyncFileReader::Request(IMediaSample* sample, DWORD_PTR user) {
  if (!sample) return E_POINTER;
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    if (flushing_) return VFW_E_WRONG_STATE;
  }
  const HRESULT result = FillSample(sample);
  try {
    std::lock_guard<std::mutex> guard(requestLock_);
    completed_.push_back(Completed{ComPtr<IMediaSample>(sample), user, result});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  requestDone_.notify_one();
  return S_OK;
}

STDMETHODIMP AsyncFileReader::WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) {
  if (!sample || !user) return E_POINTER;
  *sample = nullptr;
  *user = 0;
  std::unique_lock<std::mutex> guard(requestLock_);
  auto ready = [this] { return !completed_.empty() || flushing_; };
  if (timeout == INFINITE) {
    requestDone_.wait(guard, ready);
  } else {
    requestDone_.wait_for(guard, std::chrono::milliseconds(timeout), ready);
  }
  if (completed_.empty()) return flushing_ ? VFW_E_WRONG_STATE : VFW_E_TIMEOUT;
  ComPtr<IMediaSample> done = completed_.front().sample;
  *user = completed_.front().user;
  const HRESULT result = completed_.front().result;
  completed_.pop_front();
  *sample = done.Detach();
  return result;
}

STDMETHODIMP AsyncFileReader::SyncReadAligned(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return FillSample(sample);
}

STDMETHODIMP AsyncFileReader::BeginFlush() {
  {
    std::lock_guard<std::mutex> guard(requestLock_);
    flushing_ = true;
  }
  requestDone_.notify_all();
  return S_OK;
}

STDMETHODIMP AsyncFileReader::EndFlush() {
  std::lock_guard<std::mutex> guard(requestLock_);
  flushing_ = false;
  return S_OK;
}

}  // namespace kavo::standin
