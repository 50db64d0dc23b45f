// The stand-in source filter: loads a video page address from the catalog and offers its
// container, its separate audio stream and its subtitle tracks on output pins, its properties
// through IPropertyBag2 and IAMMediaContent, and the address rules through ISourceControl.
// A video with pause_ms changes to paused or running the way a source that buffers does: Pause
// and Run answer S_FALSE and GetState VFW_S_STATE_INTERMEDIATE until that time has passed.
// Thread rule: free-threaded. Members are guarded by lock_, state changes are serialised by
// stateChange_, and the pins and the video never change after Load. A slow Load's progress has a
// lock of its own, so that IAMOpenProgress answers and aborts while Load holds stateChange_.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <qnetwork.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "source/source_filter.h"
#include "standin/catalog.h"
#include "standin/controls.h"
#include "standin/pin_base.h"

namespace kavo::standin {

class StreamPin;
class SubtitlePin;

class SourceFilter final : public IBaseFilter,
                           public IFileSourceFilter,
                           public ISourceControl,
                           public IPropertyBag2,
                           public IAMMediaContent,
                           public IAMOpenProgress,
                           public LiveObject {
 public:
  SourceFilter();
  ~SourceFilter() override;
  SourceFilter(const SourceFilter&) = delete;
  SourceFilter& operator=(const SourceFilter&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetClassID(CLSID* id) override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  STDMETHODIMP Load(LPCOLESTR address, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetCurFile(LPOLESTR* address, AM_MEDIA_TYPE* type) override;

  ULONG STDMETHODCALLTYPE GetVersion() override;
  STDMETHODIMP Unused1() override;
  STDMETHODIMP Unused2() override;
  STDMETHODIMP NormalizeAddress(LPCWSTR address, DWORD reserved, BSTR* normalized) override;
  ULONG STDMETHODCALLTYPE GetStartOffset(LPCWSTR address) override;

  STDMETHODIMP Read(ULONG count, PROPBAG2* descriptions, IErrorLog* log, VARIANT* values,
                    HRESULT* results) override;
  STDMETHODIMP Write(ULONG count, PROPBAG2* descriptions, VARIANT* values) override;
  STDMETHODIMP CountProperties(ULONG* count) override;
  STDMETHODIMP GetPropertyInfo(ULONG from, ULONG count, PROPBAG2* descriptions,
                               ULONG* returned) override;
  STDMETHODIMP LoadObject(LPCOLESTR name, DWORD hint, IUnknown* object, IErrorLog* log) override;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters,
                      VARIANT* result, EXCEPINFO* exception, UINT* argument) override;

  STDMETHODIMP get_AuthorName(BSTR* text) override;
  STDMETHODIMP get_Title(BSTR* text) override;
  STDMETHODIMP get_Rating(BSTR* text) override;
  STDMETHODIMP get_Description(BSTR* text) override;
  STDMETHODIMP get_Copyright(BSTR* text) override;
  STDMETHODIMP get_BaseURL(BSTR* text) override;
  STDMETHODIMP get_LogoURL(BSTR* text) override;
  STDMETHODIMP get_LogoIconURL(BSTR* text) override;
  STDMETHODIMP get_WatermarkURL(BSTR* text) override;
  STDMETHODIMP get_MoreInfoURL(BSTR* text) override;
  STDMETHODIMP get_MoreInfoBannerImage(BSTR* text) override;
  STDMETHODIMP get_MoreInfoBannerURL(BSTR* text) override;
  STDMETHODIMP get_MoreInfoText(BSTR* text) override;

  STDMETHODIMP QueryProgress(LONGLONG* total, LONGLONG* current) override;
  STDMETHODIMP AbortOperation() override;

 private:
  std::shared_ptr<const Video> LoadedVideo() const;
  unsigned HiddenInterfaces() const;
  HRESULT BuildPins(const Video& video);
  HRESULT ChangeState(FILTER_STATE next, REFERENCE_TIME start);
  // Takes a slow Load's time; E_ABORT as soon as AbortOperation asks, which then takes abortMs
  // to return.
  HRESULT TakeLoadTime(std::uint32_t ms, std::uint32_t abortMs, LONGLONG total);

  std::atomic<ULONG> references_{0};
  mutable std::mutex lock_;
  std::mutex stateChange_;
  FILTER_STATE state_ = State_Stopped;
  std::chrono::steady_clock::time_point settles_;  // when the last change is complete
  std::condition_variable stateSettled_;           // a change completed or another began
  bool outOfSyncPending_ = false;                  // the next pin enumerator falls out of step once
  REFERENCE_TIME start_ = 0;
  IFilterGraph* graph_ = nullptr;  // weak: the graph holds the filter
  std::wstring name_;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;
  std::wstring address_;
  std::shared_ptr<const Video> video_;
  std::vector<std::unique_ptr<PinBase>> pins_;
  std::vector<StreamPin*> streamPins_;
  std::vector<SubtitlePin*> subtitlePins_;
  std::atomic<unsigned> loadingHidden_{0};  // the catalog's hidden interfaces, while loading

  std::mutex progressLock_;
  std::condition_variable abortAsked_;
  bool loading_ = false;  // a Load is taking its time
  bool aborting_ = false;
  std::chrono::steady_clock::time_point loadStarted_;
  std::chrono::milliseconds loadTime_{0};
  std::chrono::milliseconds abortTime_{0};  // AbortOperation's own time during that Load
  LONGLONG loadTotal_ = 0;                  // the container's size
  bool loaded_ = false;
};

}  // namespace kavo::standin
