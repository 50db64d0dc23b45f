// The one concrete player: the source filter as "Source", its main output ended in the dummy
// renderer as "Render", one subtitle renderer per subtitle media type, and the stream readers.
// Same thread rule as DsPlayerBase: built and queried on the open callbacks' threads.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <string>
#include <vector>

#include "filters/subtitle_renderer.h"
#include "player/ds_player_base.h"
#include "player/pending_subtitles.h"

namespace kavo {

// Told on the open's thread when the source filter's Load is about to start and when it has
// returned, so that another thread may cancel a Load that waits on a network, through the filter's
// IAMOpenProgress (null where it has none).
class LoadWatch {
 public:
  // False when the Load should not start at all: it then fails with E_ABORT.
  virtual bool LoadStarting(IAMOpenProgress* progress) = 0;
  virtual void LoadEnded() = 0;

 protected:
  ~LoadWatch() = default;
};

// While a player lives the process keeps its multithreaded COM apartment: the host's own threads
// that stop a read or a load, and the threads it reads on, call the source filter without joining
// COM, and so are in that apartment implicitly (where the system offers that, Windows 8 on).
class Player final : public DsPlayerBase {
 public:
  Player();
  ~Player() override;

  // The watch of the coming Open's Load; it must outlive the Open.
  void WatchLoad(LoadWatch* watch) { loadWatch_ = watch; }

  void Close() override;

  // The source filter with a reference the caller owns; empty before AddSource.
  Microsoft::WRL::ComPtr<IBaseFilter> GetSourceFilter() const;

  // The byte reader of the source's output pin `index` (0: container, 1: audio), or empty.
  Microsoft::WRL::ComPtr<IAsyncReader> GetStreamReader(int index) const;

  // True when output pin 1 offers a MEDIATYPE_Stream type.
  bool HasSecondStream() const;

  // A source may serve reads only while it runs, so a read that comes before that would wait
  // inside the filter where nothing can stop it. Once the graph's start is prepared (PrepareRun),
  // unless the start failed or was given up, this waits for the source filter to say it runs,
  // looking every few milliseconds and at `stopped`, which ends the wait (false). True at once
  // without a start under way, and from the moment the source has been seen running. Any thread.
  bool WaitForSourceRun(const std::function<bool()>& stopped);

  // Readies the graph to run without a clock and returns every subtitle track as pending, with the
  // graph's start left to whoever takes them (PendingSubtitles::RunGraph): each subtitle renderer
  // makes the start a few milliseconds longer, which an open need not wait for.
  PendingSubtitles PrepareRun();

  // For a caller that wants the files at hand: PrepareRun and the graph started here, then up to
  // waitMs for the tracks' streams to end; appends the path of every subtitle file written by then
  // to `files`, in track order. The tracks still streaming come back. With `tracks`, every track is
  // appended there too, in track order, with its file or why it has none (VFW_E_NOT_FOUND: still
  // streaming, so pending).
  PendingSubtitles GetSubtitleFiles(std::vector<std::wstring>& files, DWORD waitMs,
                                    std::vector<SubtitleTrack>* tracks = nullptr);

 protected:
  HRESULT AddSource(const std::wstring& address) override;
  HRESULT BuildStep3() override;
  HRESULT BuildStep4() override;
  HRESULT BuildStep5() override;
  HRESULT RenderStreams() override;

 private:
  HRESULT AttachSubtitleRenderers();
  // Attaches one renderer for a subtitle type found on `pin`; returns that attempt's result.
  HRESULT AttachSubtitleRenderer(IPin* pin, const AM_MEDIA_TYPE& type);

  // Where the graph's start stands, for the reads that wait for the source to run: prepared and
  // still to come (Pending), failed or given up (NotStarted), or seen through (SourceRunning).
  enum class RunState { NotPrepared, Pending, NotStarted, SourceRunning };

  Microsoft::WRL::ComPtr<IBaseFilter> source_;
  std::vector<AttachedSubtitles> subtitleRenderers_;
  LoadWatch* loadWatch_ = nullptr;
  std::atomic<RunState> runState_{RunState::NotPrepared};
  void* mtaUsage_ = nullptr;  // the cookie that keeps the multithreaded apartment, or null
};

// Shared ownership of a player: each access holds one, and so does its registry entry.
using PlayerHandle = boost::shared_ptr<Player>;

}  // namespace kavo
