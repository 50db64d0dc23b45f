#include "host/stream_callbacks.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <climits>
#include <string>

#include "host/access_state.h"
#include "host/core_functions.h"
#include "host/host_object.h"
#include "host/host_stop.h"
#include "host/stoppable_read.h"

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
  AccessState& state = cursor.state();
  cursor.set_eof(false);
  const std::int64_t position = cursor.position();
  if (state.sizeKind == AccessState::Size::Final && position >= state.size) return 0;
  // A source may serve reads only once its graph runs: a read waits for that where the host can
  // stop it, not inside the filter.
  if (state.player &&
      !state.player->WaitForSourceRun([&] { return HostStop(abi, object).Requested(); }))
    return 0;
  // One Length a read: how far the bytes have come, and the size once a read has reached it.
  const LengthAnswer answer = AskLength(*state.reader.Get());
  if (state.sizeKind != AccessState::Size::Final && position >= state.size) {
    TakeSize(state, answer);
    if (state.sizeKind == AccessState::Size::Unknown) NoteSizeUnknown(state);
    if (state.sizeKind == AccessState::Size::Final && position >= state.size) return 0;
  }

  // A read takes what has arrived, and never more than one read takes; the host asks again for
  // the rest.
  const LONG count = static_cast<LONG>(length < kLargestRead ? length : kLargestRead);
  const ReadOutcome read = ReadStoppable(*state.reader.Get(), state.request, HostStop(abi, object),
                                         answer, position, count, static_cast<BYTE*>(buffer));
  if (read.stopped) return 0;  // the host is stopping: no data, and nothing to say
  if (FAILED(read.result)) {
    // The host retries a failed read many times over: one line per access says it all.
    if (!state.readFailureLogged) {
      state.readFailureLogged = true;
      state.log.Error([&] {
        return std::string(state.streamName) + " stream read failed at offset " +
               std::to_string(position) + " (" + DescribeResult(read.result) + ")";
      });
    }
    return 0;
  }
  std::int64_t delivered = read.delivered;
  if (delivered == kUncounted) {
    // SyncRead's S_FALSE: its end came first, but only a final size says where.
    UpdateSize(state);
    delivered = state.sizeKind == AccessState::Size::Final && position + read.asked > state.size
                    ? state.size - position
                    : 0;
  }
  // Bytes past a final size are not the stream's, whatever the reader put there.
  if (state.sizeKind == AccessState::Size::Final)
    delivered = std::min(delivered, state.size - position);
  if (delivered <= 0) {
    if (read.result == S_FALSE) cursor.set_eof(true);
    return 0;
  }
  cursor.set_position(position + delivered);
  return static_cast<ssize_t>(delivered);
}

template <const HostAbi& abi>
int Seek(void* object, std::uint64_t offset) {
  Cursor cursor(abi, object);
  AccessState& state = cursor.state();
  if (offset > static_cast<std::uint64_t>(state.size) && state.sizeKind != AccessState::Size::Final)
    UpdateSize(state);
  // The host takes the offset it asked for as the stream's position, so it is kept while the size
  // is only an estimate: reads there wait for the bytes or end. Only a final size clamps it,
  // compared unsigned: an offset beyond 2^63 must not become a negative position.
  const std::uint64_t limit = state.sizeKind == AccessState::Size::Final
                                  ? static_cast<std::uint64_t>(state.size)
                                  : static_cast<std::uint64_t>(kLargestSize);
  cursor.set_position(static_cast<std::int64_t>(std::min(offset, limit)));
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
      if (cursor.state().sizeKind != AccessState::Size::Final) UpdateSize(cursor.state());
      *va_arg(args, std::uint64_t*) = static_cast<std::uint64_t>(cursor.state().size);
      return VLC_SUCCESS;
    case STREAM_IS_DIRECTORY:
      // Only the development 3.0 ABI passes a bool* here; elsewhere the query carries nothing.
      if (!abi.answersDirectoryQuery) return VLC_EGENERIC;
      *va_arg(args, bool*) = false;
      return VLC_SUCCESS;
    case STREAM_GET_PTS_DELAY: {
      // What the host buffers before it plays: the user's network caching, as for the host's own
      // network accesses, since every byte here comes over a network.
      std::int64_t cachingMs = kDefaultNetworkCachingMs;
      if (!VarInheritInteger(object, "network-caching", cachingMs))
        cachingMs = kDefaultNetworkCachingMs;
      *va_arg(args, std::int64_t*) = std::max<std::int64_t>(cachingMs, 0) * 1000;
      return VLC_SUCCESS;
    }
    case STREAM_SET_PAUSE_STATE:
      return VLC_SUCCESS;
    default:
      return VLC_EGENERIC;
  }
}

template <const HostAbi& abi>
constexpr StreamCallbacks kCallbacks{&Read<abi>, &Seek<abi>, &Control<abi>};

}  // namespace

void UpdateSize(AccessState& state) { TakeSize(state, AskLength(*state.reader.Get())); }

void TakeSize(AccessState& state, const LengthAnswer& answer) {
  if (FAILED(answer.result) || answer.total <= 0) return;  // nothing known yet: as it was
  const std::int64_t size = std::min<std::int64_t>(answer.total, kLargestSize);
  if (answer.result != VFW_S_ESTIMATED) {
    state.size = size;
    state.sizeKind = AccessState::Size::Final;
  } else if (state.sizeKind != AccessState::Size::Final) {
    // A smaller estimate later must not end the stream early.
    state.size = std::max(state.size, size);
    state.sizeKind = AccessState::Size::Estimated;
  }
}

void NoteSizeUnknown(AccessState& state) {
  if (state.sizeUnknownLogged) return;
  state.sizeUnknownLogged = true;
  state.log.Debug([&] {
    return std::string(state.streamName) +
           " stream size unknown: the source filter gives none yet; reading until it ends";
  });
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
