#include "host_test_support.h"

#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace kavo::test {

double MsAfterStop(const CoreRecorder& recorder, HostKind kind, const void* object,
                   DWORD stopAfterMs, const std::function<void()>& body,
                   const std::function<void()>& rescue, double* stopCallMs) {
  void* const context = kind == HostKind::V22 ? nullptr : recorder.NewInterrupt();
  LARGE_INTEGER stopped{}, called{}, done{}, frequency{};
  const HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread thread([&] {
    if (context) recorder.SetInterrupt(context);
    body();
    QueryPerformanceCounter(&done);
    if (context) recorder.SetInterrupt(nullptr);
    SetEvent(ended);
  });
  Sleep(stopAfterMs);
  QueryPerformanceCounter(&stopped);
  if (context) {
    recorder.KillInterrupt(context);
  } else {
    recorder.KillObject(object);
  }
  QueryPerformanceCounter(&called);
  if (rescue && WaitForSingleObject(ended, 1000) != WAIT_OBJECT_0) rescue();
  thread.join();
  CloseHandle(ended);
  if (context) recorder.DestroyInterrupt(context);
  QueryPerformanceFrequency(&frequency);
  const auto ms = [&](LONGLONG counts) {
    return 1000.0 * static_cast<double>(counts) / static_cast<double>(frequency.QuadPart);
  };
  if (stopCallMs) *stopCallMs = ms(called.QuadPart - stopped.QuadPart);
  return ms(done.QuadPart - stopped.QuadPart);
}

CoreRecorder::Shape ShapeOf(HostKind kind) {
  switch (kind) {
    case HostKind::V22:
      return CoreRecorder::Host22;
    case HostKind::V30Development:
      return CoreRecorder::Host30Development;
    default:
      return CoreRecorder::Host30Release;
  }
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length,
                      nullptr, nullptr);
  return utf8;
}

std::vector<std::string> Messages(const std::vector<std::string>& logLines, const void* object) {
  std::vector<std::string> messages;
  for (const std::string& line : logLines) {
    std::string message = line;
    for (const char* priority : {"info", "error", "warning", "debug"}) {
      const std::string head =
          std::string(priority) + " \"DIDUZU\" " + CoreRecorder::Pointer(object) + ": ";
      if (line.compare(0, head.size(), head) == 0) {
        message = std::string(priority) + ": " + line.substr(head.size());
        break;
      }
    }
    messages.push_back(message);
  }
  return messages;
}

std::string SystemText(HRESULT result) {
  wchar_t buffer[1024] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(result), 0, buffer, 1024, nullptr);
  std::wstring text(buffer, length);
  while (!text.empty() && std::wcschr(L"\r\n ", text.back())) text.pop_back();
  return Utf8(text);
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetTempPathW(MAX_PATH * 4, buffer);
  return std::wstring(buffer, length);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FileBytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  std::vector<char> buffer(1 << 16);
  DWORD got = 0;
  while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         got > 0) {
    bytes.append(buffer.data(), got);
  }
  CloseHandle(file);
  return bytes;
}

bool ApartmentBalanced() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(result)) CoUninitialize();
  return result == S_OK;
}

void HostInput::LayOut(const HostLayout& layout) {
  // A decoy wherever another ABI or architecture keeps p_meta (x86: 60, 64; x86-64: 104, 112),
  // so that extras written through a wrong offset show.
  void* decoy = input;
  for (std::ptrdiff_t offset : {60, 64, 104, 112}) std::memcpy(item + offset, &decoy, sizeof decoy);
  void* metaRecord = meta;
  std::memcpy(item + layout.itemMeta, &metaRecord, sizeof metaRecord);
}

}  // namespace kavo::test
