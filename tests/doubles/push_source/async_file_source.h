// A temporary file served by the platform's own "File Source (Async.)" filter: its output pin
// offers the given major type in pull mode and exposes IAsyncReader, but never hands an allocator
// to the pin it connects to. The file is removed when this object goes, so release every graph
// that holds the filter first.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <string>

namespace kavo::test {

class AsyncFileSource {
 public:
  explicit AsyncFileSource(const std::string& bytes, const GUID& majorType = MEDIATYPE_Stream);
  ~AsyncFileSource();
  AsyncFileSource(const AsyncFileSource&) = delete;
  AsyncFileSource& operator=(const AsyncFileSource&) = delete;

  HRESULT Status() const { return status_; }
  IBaseFilter* Filter() const { return filter_.Get(); }
  IPin* OutputPin() const { return pin_.Get(); }

 private:
  std::wstring path_;
  Microsoft::WRL::ComPtr<IBaseFilter> filter_;
  Microsoft::WRL::ComPtr<IPin> pin_;
  HRESULT status_ = E_FAIL;
};

}  // namespace kavo::test
