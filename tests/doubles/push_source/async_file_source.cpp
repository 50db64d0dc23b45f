#include "tests/doubles/push_source/async_file_source.h"

namespace kavo::test {

namespace {

std::wstring NewTempPath() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t path[MAX_PATH + 1] = {};
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"kfs", 0, path)) return {};
  return path;
}

HRESULT WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(bytes.size());
  const BOOL ok = WriteFile(file, bytes.data(), size, &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size() ? S_OK : E_FAIL;
}

}  // namespace

AsyncFileSource::AsyncFileSource(const std::string& bytes, const GUID& majorType)
    : path_(NewTempPath()) {
  if (path_.empty()) return;
  status_ = WriteFileBytes(path_, bytes);
  if (FAILED(status_)) return;
  status_ =
      CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &filter_);
  if (FAILED(status_)) return;
  Microsoft::WRL::ComPtr<IFileSourceFilter> fileSource;
  status_ = filter_->QueryInterface(IID_IFileSourceFilter, &fileSource);
  if (FAILED(status_)) return;
  AM_MEDIA_TYPE type = {};
  type.majortype = majorType;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = 1;
  status_ = fileSource->Load(path_.c_str(), &type);
  if (FAILED(status_)) return;
  Microsoft::WRL::ComPtr<IEnumPins> pins;
  status_ = filter_->EnumPins(&pins);
  if (FAILED(status_)) return;
  status_ = pins->Next(1, &pin_, nullptr);
  if (status_ == S_FALSE) status_ = E_FAIL;
}

AsyncFileSource::~AsyncFileSource() {
  pin_.Reset();
  filter_.Reset();
  if (!path_.empty()) DeleteFileW(path_.c_str());
}

}  // namespace kavo::test
