// An access over any IAsyncReader, as a main open leaves it, for tests and benchmarks that drive
// the plug-in's own read, seek and control callbacks against a reader no open would find: the
// platform's own async file reader, or a stand-in pin's reader taken directly, whose filter the
// test keeps in hand. The host object is laid out for one ABI; nothing else of an open is there.
// Thread rule: the host's: one thread at a time calls an access's callbacks.
#pragma once

#include <dshow.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host_emulator.h"

namespace kavo::test {

class ReaderAccess {
 public:
  ReaderAccess(HostKind kind, IAsyncReader* reader);
  ~ReaderAccess();
  ReaderAccess(const ReaderAccess&) = delete;
  ReaderAccess& operator=(const ReaderAccess&) = delete;

  long long Read(void* buffer, size_t length);
  int Seek(std::uint64_t offset);
  std::uint64_t Size();  // as the host's size query answers it
  // Reads from the current position to the end in chunks of `chunk` bytes.
  std::string ReadToEnd(size_t chunk);
  // The host object, as the host would name it to the plug-in.
  const void* Object() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kavo::test
