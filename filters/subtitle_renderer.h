// The renderer that turns one subtitle stream into an SRT file: each sample becomes a cue, and
// every end of stream writes all cues received so far, sorted by start, into a new file in the
// temporary folder, which then replaces the previous one. It connects only with the one media type
// it is made for, whose samples carry a cue's text each. ISubtitleRenderer hands the file's path
// out and keeps the file until the library is unloaded.
// Thread rule: samples and end of stream arrive on the upstream streaming thread under the base
// renderer's locks, which guard the cues; the current file is swapped and read under a lock of its
// own, so GetFilePath may be called from any thread, even while a file is being written.
#pragma once

#include <dshow.h>

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "baseclasses/base_renderer.h"
#include "common/critical_section.h"
#include "common/media_type.h"
#include "filters/srt_writer.h"
#include "filters/temp_files.h"

namespace kavo {

// {1E76C3A4-6009-444A-B4D7-69D323EA3565}
inline constexpr IID IID_ISubtitleRenderer = {
    0x1e76c3a4, 0x6009, 0x444a, {0xb4, 0xd7, 0x69, 0xd3, 0x23, 0xea, 0x35, 0x65}};

// {96A65D59-EE6B-48A6-A557-D4AA37FFA937}
inline constexpr CLSID CLSID_SubtitleRenderer = {
    0x96a65d59, 0xee6b, 0x48a6, {0xa5, 0x57, 0xd4, 0xaa, 0x37, 0xff, 0xa9, 0x37}};

struct ISubtitleRenderer : public IUnknown {
  // The full path of the file written at the last end of stream, as a new BSTR the caller frees.
  // Each successful call keeps the file until the library is unloaded. E_POINTER for a null out,
  // VFW_E_NOT_FOUND while there is no file, E_OUTOFMEMORY.
  virtual HRESULT STDMETHODCALLTYPE GetFilePath(BSTR* path) = 0;
  // How the last end of stream went: S_OK when it wrote a file, S_FALSE when there were no cues
  // to write, the write's failure otherwise; VFW_E_NOT_FOUND before the first end of stream.
  virtual HRESULT STDMETHODCALLTYPE GetWriteResult() = 0;
};

class CSubtitleRenderer final : public ds::CBaseRenderer, public ISubtitleRenderer {
 public:
  // Born at reference count zero; the creator takes the first reference. trackName (the track's
  // name or language, possibly empty) ends the file name: "<name>.srt", or "srt" alone. A "\" or
  // "/" in it becomes "_", so that the file stays in the temporary folder. accepted: the only type
  // it connects with (major type, subtype, format type and format block alike).
  CSubtitleRenderer(HRESULT* result, const std::wstring& trackName, const AM_MEDIA_TYPE& accepted);
  ~CSubtitleRenderer() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  STDMETHODIMP GetFilePath(BSTR* path) override;
  STDMETHODIMP GetWriteResult() override;

  // The accepted type alone: another one's samples (plain text, say) would be read as cues.
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  // One cue per sample with data and time stamps; a sample without either is skipped.
  HRESULT DoRenderSample(IMediaSample* sample) override;
  // Writes the file under a fresh name, then ends the stream as every renderer does.
  HRESULT EndOfStream() override;

  // The cues received so far, in arrival order.
  std::vector<SrtCue> Cues();

 private:
  void WriteCueFile();
  void SetWriteResult(HRESULT result);

  CCritSec fileLock_;  // guards currentFile and writeResult
  std::vector<SrtCue> cues;
  boost::shared_ptr<AvTempPath> currentFile;
  HRESULT writeResult = VFW_E_NOT_FOUND;
  std::wstring fileSuffix;
  CMediaType accepted_;
};

}  // namespace kavo

__CRT_UUID_DECL(kavo::ISubtitleRenderer, 0x1e76c3a4, 0x6009, 0x444a, 0xb4, 0xd7, 0x69, 0xd3, 0x23,
                0xea, 0x35, 0x65)
