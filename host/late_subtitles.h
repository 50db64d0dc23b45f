// The main access's waiter for subtitle tracks that missed the open's wait: a thread of its own
// that hands each track's file to the host as soon as its stream ends, until every track has ended
// or the access closes. Thread rule: created and destroyed on the access's host thread; the waiter
// thread alone touches the pending tracks, in a multithreaded COM apartment of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/critical_section.h"
#include "player/pending_subtitles.h"

namespace kavo::host {

class LateSubtitles {
 public:
  using HandOver = std::function<void(const SubtitleTrack& track)>;

  // A running waiter for `pending`, or null when nothing is pending, no end can ever be seen, or
  // the thread cannot start (the tracks are then given up). handOver makes the host call.
  static std::unique_ptr<LateSubtitles> Start(PendingSubtitles pending, HandOver handOver);

  // Stops and joins the waiter; no host call starts once this has begun. Must run before the
  // player whose tracks are pending goes.
  ~LateSubtitles();
  LateSubtitles(const LateSubtitles&) = delete;
  LateSubtitles& operator=(const LateSubtitles&) = delete;

 private:
  struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
  };
  using Event = std::unique_ptr<void, HandleCloser>;

  LateSubtitles(PendingSubtitles pending, HandOver handOver, Event stop);
  void Wait();
  void HandOverLate(const SubtitleTrack& track);

  PendingSubtitles pending_;
  const HandOver handOver_;
  const Event stop_;      // set when the access closes
  CCritSec lock_;         // held around every host call
  bool closing_ = false;  // under lock_
  std::thread thread_;
};

}  // namespace kavo::host
