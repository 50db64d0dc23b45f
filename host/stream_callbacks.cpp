#include "host/stream_callbacks.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <climits>
#include <string>

#include "host/access_state.h"
#include "host/host_object.h"

namespace kavo::host {

namespace {

// Where an access keeps its position: on the host object (2.2) or in its AccessState.
class Cursor {
 public:
  Cursor(const HostAbi& abi, void* object)
      : host_(abi, object), state_(*host_.Get<AccessState*>(abi.sys)) {}

  AccessState& state() { return state_; }

  std::int64_t position() const {
    return host_.Has(host_.abi().infoPosition) ? host_.Get<std::int64_t>(host_.abi().infoPosition)
                                               : state_.position;
  }
  void set_position(std::int64_t value) {
    if (host_.Has(host_.abi().infoPosition))
      host_.Set<std::int64_t>(host_.abi().infoPosition, value);
    else
      state_.position = value;
  }
  void set_eof(bool value) {
    if (host_.Has(host_.abi().infoEof)) host_.Set<bool>(host_.abi().infoEof, value);
  }

 private:
  HostObject host_;
  AccessState& state_;
};

template <const HostAbi& abi>
ssize_t Read(void* object, void* buffer, size_t length) {
  Cursor cursor(abi, object);
  cursor.set_eof(false);
  const std::int64_t position = cursor.position();
  if (position >= cursor.state().size && cursor.state().sizeEstimated) UpdateSize(cursor.state());
  const std::int64_t size = cursor.state().size;
  if (position >= size) return 0;

  // A request beyond what one SyncRead takes is served in part; the host asks again for the rest.
  const LONG count = static_cast<LONG>(length < kLargestRead ? length : kLargestRead);
  AccessState& state = cursor.state();
  const HRESULT result = state.reader->SyncRead(position, count, static_cast<BYTE*>(buffer));
  if (FAILED(result)) {
    // The host retries a failed read many times over: one line per access says it all.
    if (!state.readFailureLogged) {
      state.readFailureLogged = true;
      state.log.Error([&] {
        return std::string(state.streamName) + " stream read failed at offset " +
               std::to_string(position) + " (" + DescribeResult(result) + ")";
      });
    }
    return 0;
  }
  if (result != S_FALSE) {
    cursor.set_position(position + count);
    return count;
  }
  // S_FALSE: the reader stopped at the end of its stream.
  if (position + count <= size) {
    cursor.set_eof(true);
    return 0;
  }
  const std::int64_t delivered = size - position;
  cursor.set_position(size);
  return static_cast<ssize_t>(delivered);
}

template <const HostAbi& abi>
int Seek(void* object, std::uint64_t offset) {
  Cursor cursor(abi, object);
  AccessState& state = cursor.state();
  if (offset > static_cast<std::uint64_t>(state.size) && state.sizeEstimated) UpdateSize(state);
  const std::int64_t size = state.size;
  // Compared unsigned: an offset beyond 2^63 must land on the size, not on a negative position.
  const bool pastEnd = offset > static_cast<std::uint64_t>(size);
  cursor.set_position(pastEnd ? size : static_cast<std::int64_t>(offset));
  cursor.set_eof(false);
  return VLC_SUCCESS;
}

template <const HostAbi& abi>
int Control(void* object, int query, va_list args) {
  Cursor cursor(abi, object);
  switch (query) {
    case STREAM_CAN_SEEK:
    case STREAM_CAN_PAUSE:
    case STREAM_CAN_CONTROL_PACE:
      *va_arg(args, bool*) = true;
      return VLC_SUCCESS;
    case STREAM_CAN_FASTSEEK:
      *va_arg(args, bool*) = false;
      return VLC_SUCCESS;
    case STREAM_GET_SIZE:
      if (cursor.state().sizeEstimated) UpdateSize(cursor.state());
      *va_arg(args, std::uint64_t*) = static_cast<std::uint64_t>(cursor.state().size);
      return VLC_SUCCESS;
    case STREAM_IS_DIRECTORY:
      // Only the development 3.0 ABI passes a bool* here; elsewhere the query carries nothing.
      if (!abi.answersDirectoryQuery) return VLC_EGENERIC;
      *va_arg(args, bool*) = false;
      return VLC_SUCCESS;
    case STREAM_GET_PTS_DELAY:
      *va_arg(args, std::int64_t*) = 0;
      return VLC_SUCCESS;
    case STREAM_SET_PAUSE_STATE:
      return VLC_SUCCESS;
    default:
      return VLC_EGENERIC;
  }
}

template <const HostAbi& abi>
constexpr StreamCallbacks kCallbacks{&Read<abi>, &Seek<abi>, &Control<abi>};

}  // namespace

void UpdateSize(AccessState& state) {
  LONGLONG total = 0;
  LONGLONG available = 0;  // readers written the usual way write both, asked for or not
  const HRESULT result = state.reader->Length(&total, &available);
  if (FAILED(result)) return;
  const std::int64_t size = std::clamp<std::int64_t>(total, 0, kLargestSize);
  state.sizeEstimated = result == VFW_S_ESTIMATED;
  // A smaller estimate later must not end the stream early; a final answer stands as it is.
  if (!state.sizeEstimated || size > state.size) state.size = size;
}

StreamCallbacks StreamCallbacksFor(const HostAbi& abi) {
  switch (abi.id) {
    case kAbi22.id:
      return kCallbacks<kAbi22>;
    case kAbi30Dev.id:
      return kCallbacks<kAbi30Dev>;
    default:
      return kCallbacks<kAbi30Release>;
  }
}

}  // namespace kavo::host
