#include "host_emulator.h"

#include <cstdarg>

#include "descriptor_recorder.h"

namespace kavo::test {

namespace {

constexpr size_t kObjectSize = 256;

// From the hosts' own headers: access_t of 2.2, stream_t of 3.0 (the same in development builds
// and releases), as the host's compiler lays them out for x86-64 and for x86.
constexpr HostLayout kLayout22Win64{
    "vlc_entry__2_2_0b", false, 48, 56, 80, 88, -1, 96, 104, 112, 120, 128, 136, 112};
constexpr HostLayout kLayout30DevWin64{
    "vlc_entry__3_0_0d", true, -1, 64, 96, 104, 112, 120, 128, -1, -1, 136, 144, 104};
constexpr HostLayout kLayout30ReleaseWin64{
    "vlc_entry__3_0_0f", true, -1, 64, 96, 104, 112, 120, 128, -1, -1, 136, 144, 104};
constexpr HostLayout kLayout22Win32{
    "vlc_entry__2_2_0b", false, 28, 32, 44, 48, -1, 52, 56, 64, 72, 80, 84, 64};
constexpr HostLayout kLayout30DevWin32{
    "vlc_entry__3_0_0d", true, -1, 36, 52, 56, 60, 64, 68, -1, -1, 72, 76, 60};
constexpr HostLayout kLayout30ReleaseWin32{
    "vlc_entry__3_0_0f", true, -1, 36, 52, 56, 60, 64, 68, -1, -1, 72, 76, 60};
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr const HostLayout& kLayout22 = kWin64 ? kLayout22Win64 : kLayout22Win32;
constexpr const HostLayout& kLayout30Dev = kWin64 ? kLayout30DevWin64 : kLayout30DevWin32;
constexpr const HostLayout& kLayout30Release =
    kWin64 ? kLayout30ReleaseWin64 : kLayout30ReleaseWin32;

// ssize_t: 32 bits on x86, where a wider return type would read a register the callee never set.
using ReadFunction = ssize_t (*)(void*, void*, size_t);
using SeekFunction = int (*)(void*, std::uint64_t);
using ControlFunction = int (*)(void*, int, va_list);

}  // namespace

const HostLayout& LayoutOf(HostKind kind) {
  switch (kind) {
    case HostKind::V22:
      return kLayout22;
    case HostKind::V30Development:
      return kLayout30Dev;
    default:
      return kLayout30Release;
  }
}

const char* NameOf(HostKind kind) {
  switch (kind) {
    case HostKind::V22:
      return "Host22";
    case HostKind::V30Development:
      return "Host30Development";
    default:
      return "Host30Release";
  }
}

bool HostEmulator::Load() {
  HMODULE module = LoadLibraryW(L"libkavo_plugin.dll");
  if (!module) return false;
  using Entry = int (*)(int (*)(void*, void*, int, ...), void*);
  auto entry = reinterpret_cast<Entry>(GetProcAddress(module, layout().entry));
  if (!entry) return false;
  DescriptorRecorder recorder(layout().namedCallbacks);
  if (entry(&DescriptorRecorder::Setter, &recorder) != 0) return false;
  open = reinterpret_cast<int (*)(void*)>(recorder.open);
  close = reinterpret_cast<void (*)(void*)>(recorder.close);
  return open && close;
}

std::unique_ptr<Access> HostEmulator::NewAccess(const std::string& location, void* input,
                                                const char* scheme) const {
  return std::make_unique<Access>(*this, location, input, scheme);
}

Access::Access(const HostEmulator& host, std::string location, void* input, const char* scheme)
    : host_(host),
      layout_(host.layout()),
      location_(std::move(location)),
      scheme_(scheme ? scheme : ""),
      object_(kObjectSize, kPoison) {
  SetMember<const char*>(layout_.location, location_.c_str());
  SetMember<void*>(layout_.input, input);
  if (layout_.access >= 0)
    SetMember<const char*>(layout_.access, scheme ? scheme_.c_str() : nullptr);
  pristine_ = object_;
}

Access::~Access() {
  if (open_) Close();
}

int Access::Open() {
  const int result = host_.open(object_.data());
  open_ = result == 0;
  return result;
}

void Access::Close() {
  host_.close(object_.data());
  open_ = false;
}

long long Access::Read(void* buffer, size_t length) {
  return Member<ReadFunction>(layout_.read)(object_.data(), buffer, length);
}

int Access::Seek(std::uint64_t offset) {
  return Member<SeekFunction>(layout_.seek)(object_.data(), offset);
}

int Access::Control(int query, ...) {
  va_list args;
  va_start(args, query);
  const int result = Member<ControlFunction>(layout_.control)(object_.data(), query, args);
  va_end(args);
  return result;
}

std::string Access::ReadToEnd(size_t chunk) { return ReadAll(*this, chunk); }

std::int64_t Access::InfoPosition() const { return Member<std::int64_t>(layout_.pos); }
bool Access::InfoEof() const { return Member<bool>(layout_.eof); }
void* Access::Sys() const { return Member<void*>(layout_.sys); }
bool Access::Untouched() const { return object_ == pristine_; }

bool Access::OnlyOpenMembersChanged() const {
  std::vector<unsigned char> outside = object_;
  const auto restore = [&](std::ptrdiff_t offset, size_t size) {
    if (offset >= 0) std::memcpy(outside.data() + offset, pristine_.data() + offset, size);
  };
  for (const std::ptrdiff_t member :
       {layout_.sys, layout_.read, layout_.block, layout_.readdir, layout_.seek, layout_.control}) {
    restore(member, sizeof(void*));
  }
  restore(layout_.pos, sizeof(std::int64_t));
  restore(layout_.eof, sizeof(bool));
  return outside == pristine_;
}

std::string OfferedSlaveLocation(const std::vector<std::string>& coreCalls) {
  const std::string marker = "&vlc_slave=1";
  for (const auto& line : coreCalls) {
    if (line.rfind("input_Control ", 0) != 0) continue;
    const auto end = line.find(marker + "\"");
    if (end == std::string::npos) continue;
    const auto start = line.rfind("://", end);
    if (start == std::string::npos) continue;
    return line.substr(start + 3, end + marker.size() - start - 3);
  }
  return {};
}

}  // namespace kavo::test
