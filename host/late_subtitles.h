// The main access's subtitle waiter: a thread of its own that hands each subtitle track's file to
// the host as soon as its stream ends, until every track has ended or the access closes. The open
// only starts it and does not wait for any track. Thread rule: created and destroyed on the
// access's host thread; the waiter thread alone touches the pending tracks, in a multithreaded COM
// apartment of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/critical_section.h"
#include "host/host_log.h"
#include "player/pending_subtitles.h"

namespace kavo::host {

class LateSubtitles {
 public:
  using HandOver = std::function<void(const SubtitleTrack& track)>;

  // A running waiter for `pending`, which starts the graph and then hands the tracks over: those
  // that have ended when it first looks in track order, later ones in the order they end.
  // handOver makes the host call and says so in the log. Null when nothing is pending (the graph
  // is started here), and when no end could ever be seen (no event queue) or the waiter cannot
  // start: the graph is started here, what is written by then is handed over at once, and `log`
  // names each track still streaming as not handed over, with the reason. The log must outlive
  // the waiter.
  static std::unique_ptr<LateSubtitles> Start(PendingSubtitles pending, HandOver handOver,
                                              HostLog& log);

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

  LateSubtitles(PendingSubtitles pending, HandOver handOver, HostLog& log, Event stop);
  void Wait();
  void HandOverUnlessClosing(const SubtitleTrack& track);

  PendingSubtitles pending_;
  const HandOver handOver_;
  HostLog& log_;          // weak: the access's own, which outlives the waiter
  const Event stop_;      // set when the access closes
  CCritSec lock_;         // held around every host call
  bool closing_ = false;  // under lock_
  std::thread thread_;
};

// "subtitle track N \"name\"", as every line about one track begins.
std::string TrackLabel(const SubtitleTrack& track);

}  // namespace kavo::host
