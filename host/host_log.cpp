#include "host/host_log.h"

#include "common/text.h"

namespace kavo::host {

namespace {

// The host shows a file's name; the compiler gives the whole build path.
const char* BaseName(const char* path) {
  if (!path) return nullptr;
  const char* name = path;
  for (const char* c = path; *c; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  return name;
}

}  // namespace

void HostLog::Close() noexcept {
  const CAutoLock guard(&lock_);
  closed_ = true;
}

void HostLog::Send(LogPriority priority, const std::string& text, const SourcePlace& place) const {
  VlcLog(abi_->logShape, object_, priority, kModuleName,
         SourcePlace{BaseName(place.file), place.line, place.function}, text.c_str());
}

std::string DescribeResult(HRESULT result) {
  const std::string message = SystemMessage(result);
  return HresultHex(result) + (message.empty() ? "" : ": " + message);
}

}  // namespace kavo::host
