// Plays the host's part for the plug-in: loads the DLL, runs one ABI's entry point with a
// recording setter to learn the callbacks, and drives accesses through host objects laid out
// byte-exact for that ABI. Its layout table is written from the host's headers independently of
// the plug-in's own, so a wrong offset on either side shows. Every byte the host does not set is
// filled with a poison pattern, so a failed open that touches the object shows too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kavo::test {

enum class HostKind { V22, V30Development, V30Release };

struct HostLayout {
  const char* entry;
  bool namedCallbacks;
  std::ptrdiff_t access, location, read, block, readdir, seek, control, pos, eof, sys, input;
  std::ptrdiff_t itemMeta;  // p_meta inside input_item_t
};
const HostLayout& LayoutOf(HostKind kind);
const char* NameOf(HostKind kind);

constexpr unsigned char kPoison = 0xA5;

// Reads `stream` (anything with the host's read call) in reads of `chunk` bytes until a read
// gives nothing, and answers what came.
template <typename Stream>
std::string ReadAll(Stream& stream, size_t chunk) {
  std::string bytes;
  std::vector<char> buffer(chunk);
  for (;;) {
    const long long got = stream.Read(buffer.data(), chunk);
    if (got <= 0) return bytes;
    bytes.append(buffer.data(), static_cast<size_t>(got));
  }
}

class HostEmulator;

class Access {
 public:
  Access(const HostEmulator& host, std::string location, void* input, const char* scheme);
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  ~Access();  // closes the access if it is still open

  int Open();
  void Close();
  bool open() const { return open_; }

  long long Read(void* buffer, size_t length);
  int Seek(std::uint64_t offset);
  int Control(int query, ...);

  // Reads from the current position to the end in chunks of `chunk` bytes.
  std::string ReadToEnd(size_t chunk);

  std::int64_t InfoPosition() const;  // 2.2 only
  bool InfoEof() const;               // 2.2 only
  void* Sys() const;
  // The host object itself, as the host would name it to the plug-in.
  const void* Object() const { return object_.data(); }
  // True when every byte outside the members the host set is still poison.
  bool Untouched() const;
  // True when every byte outside the members an open sets (p_sys, the callbacks, 2.2's
  // info.i_pos and info.b_eof) is still as the host set it.
  bool OnlyOpenMembersChanged() const;

  template <typename T>
  T Member(std::ptrdiff_t offset) const {
    T value;
    std::memcpy(&value, object_.data() + offset, sizeof value);
    return value;
  }

 private:
  template <typename T>
  void SetMember(std::ptrdiff_t offset, T value) {
    std::memcpy(object_.data() + offset, &value, sizeof value);
  }

  const HostEmulator& host_;
  const HostLayout& layout_;
  std::string location_;
  std::string scheme_;
  std::vector<unsigned char> object_;
  std::vector<unsigned char> pristine_;
  bool open_ = false;
};

class HostEmulator {
 public:
  explicit HostEmulator(HostKind kind) : kind_(kind) {}

  // Loads libkavo_plugin.dll and runs this host's entry point; false if anything is missing.
  bool Load();

  HostKind kind() const { return kind_; }
  const HostLayout& layout() const { return LayoutOf(kind_); }

  // A new, unopened access for `location` (the address without its scheme).
  std::unique_ptr<Access> NewAccess(const std::string& location, void* input = nullptr,
                                    const char* scheme = "yshttps") const;

  int (*open)(void*) = nullptr;
  void (*close)(void*) = nullptr;

 private:
  HostKind kind_;
};

// The location part (after "://") of the audio slave address a main open offered, as recorded
// by the recording core library; empty when none was offered.
std::string OfferedSlaveLocation(const std::vector<std::string>& coreCalls);

}  // namespace kavo::test
