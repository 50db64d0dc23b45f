// Typed access to members of a host object (access_t or stream_t) at the offsets of one ABI.
// Reads and writes go through memcpy: the object is the host's, laid out by the host's compiler.
#pragma once

#include <cstring>

#include "host/vlc_abi.h"

namespace kavo::host {

class HostObject {
 public:
  HostObject(const HostAbi& abi, void* object) : abi_(abi), base_(static_cast<char*>(object)) {}

  const HostAbi& abi() const { return abi_; }

  template <typename T>
  T Get(std::ptrdiff_t offset) const {
    T value;
    std::memcpy(&value, base_ + offset, sizeof value);
    return value;
  }

  template <typename T>
  void Set(std::ptrdiff_t offset, T value) {
    std::memcpy(base_ + offset, &value, sizeof value);
  }

  bool Has(std::ptrdiff_t offset) const { return offset != kAbsent; }

 private:
  const HostAbi& abi_;
  char* base_;
};

}  // namespace kavo::host
