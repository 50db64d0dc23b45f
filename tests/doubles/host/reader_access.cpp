#include "reader_access.h"

#include <cstdarg>
#include <vector>

#include "host/access_state.h"
#include "host/host_object.h"
#include "host/stream_callbacks.h"

namespace kavo::test {

struct ReaderAccess::State {
  State(const host::HostAbi& abi, IAsyncReader* reader)
      : object(256, 0), access(abi, object.data()), callbacks(host::StreamCallbacksFor(abi)) {
    access.reader = reader;
    host::HostObject(abi, object.data()).Set<void*>(abi.sys, &access);
    host::UpdateSize(access);
  }

  std::vector<unsigned char> object;
  host::AccessState access;
  host::StreamCallbacks callbacks;
};

namespace {

const host::HostAbi& AbiOf(HostKind kind) {
  switch (kind) {
    case HostKind::V22:
      return host::kAbi22;
    case HostKind::V30Development:
      return host::kAbi30Dev;
    default:
      return host::kAbi30Release;
  }
}

int Control(const host::StreamCallbacks& callbacks, void* object, int query, ...) {
  va_list args;
  va_start(args, query);
  const int result = callbacks.control(object, query, args);
  va_end(args);
  return result;
}

}  // namespace

ReaderAccess::ReaderAccess(HostKind kind, IAsyncReader* reader)
    : state_(std::make_unique<State>(AbiOf(kind), reader)) {}

ReaderAccess::~ReaderAccess() = default;

long long ReaderAccess::Read(void* buffer, size_t length) {
  return state_->callbacks.read(state_->object.data(), buffer, length);
}

int ReaderAccess::Seek(std::uint64_t offset) {
  return state_->callbacks.seek(state_->object.data(), offset);
}

std::uint64_t ReaderAccess::Size() {
  std::uint64_t size = 0;
  Control(state_->callbacks, state_->object.data(), 6, &size);
  return size;
}

std::string ReaderAccess::ReadToEnd(size_t chunk) { return ReadAll(*this, chunk); }

const void* ReaderAccess::Object() const { return state_->object.data(); }

}  // namespace kavo::test
