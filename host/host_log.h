// One access's lines in the host's log (VLC's Messages window, `vlc -vv`), in the voice of every
// host module: the access's own host object, the module's name, one fact a line. Lines go through
// the late-bound vlc_Log in the shape of the access's ABI; without the host library nothing is
// written. Any thread may write; Close() shuts the log for good, and once it returns no thread is
// writing or will write a line.
//
//   log.Debug([&] { return "normalized address: " + WideToUtf8(normalized); });
//
// The text is made by the function given, only when a line can be written; nothing it throws
// leaves the call, so a host callback may log without a guard of its own.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "common/critical_section.h"
#include "host/core_functions.h"
#include "host/vlc_abi.h"

namespace kavo::host {

// The name the module describes itself with; the host shows it with each line.
inline constexpr char kModuleName[] = "DIDUZU";

class HostLog {
 public:
  HostLog() = default;  // writes nowhere
  HostLog(const HostAbi& abi, void* object) : abi_(&abi), object_(object) {}
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;

  // The call site travels with each line where the host takes one.
  template <typename Compose>
  void Error(Compose compose, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
             const char* function = __builtin_FUNCTION()) noexcept {
    Write(VLC_MSG_ERR, compose, SourcePlace{file, line, function});
  }
  template <typename Compose>
  void Warning(Compose compose, const char* file = __builtin_FILE(),
               unsigned line = __builtin_LINE(),
               const char* function = __builtin_FUNCTION()) noexcept {
    Write(VLC_MSG_WARN, compose, SourcePlace{file, line, function});
  }
  template <typename Compose>
  void Debug(Compose compose, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
             const char* function = __builtin_FUNCTION()) noexcept {
    Write(VLC_MSG_DBG, compose, SourcePlace{file, line, function});
  }

  // No line is written from here on; waits for a line being written on another thread.
  void Close() noexcept;

 private:
  template <typename Compose>
  void Write(LogPriority priority, Compose& compose, const SourcePlace& place) noexcept {
    if (!abi_) return;
    try {
      const CAutoLock guard(&lock_);
      if (!closed_) Send(priority, compose(), place);
    } catch (const std::exception&) {
    }
  }
  void Send(LogPriority priority, const std::string& text, const SourcePlace& place) const;

  const HostAbi* abi_ = nullptr;
  void* object_ = nullptr;
  CCritSec lock_;  // guards closed_ and spans each line written
  bool closed_ = false;
};

// "0x80070005: Access is denied." or, without the system's words for it, "0x80070005".
std::string DescribeResult(HRESULT result);

}  // namespace kavo::host
