// A source filter stand-in for the metadata tests: a property bag, IAMMediaContent and
// ISourceControl with configurable answers, counting its references and the calls it gets. It
// lives on the test's stack and never deletes itself; its reference count starts at zero.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <qnetwork.h>
#include <strmif.h>

#include <cstring>
#include <string>
#include <vector>

#include "source/source_filter.h"

namespace kavo::test {

// An IUnknown that only counts; handed out inside VARIANTs to see them cleared.
class CountedUnknown final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

  LONG refs = 0;
};

struct FakeProperty {
  std::wstring name;
  DWORD hint = 1;
  std::wstring value;
  HRESULT result = S_OK;   // the per-property result Read reports
  VARTYPE type = VT_BSTR;  // VT_BSTR delivers value; VT_UNKNOWN delivers `object`
  bool nullName = false;
  bool nullValue = false;
  CountedUnknown* object = nullptr;
};

class FakeSourceFilter final : public IBaseFilter,
                               public IPropertyBag2,
                               public IAMMediaContent,
                               public ISourceControl {
 public:
  // --- Answers ---
  bool hasBag = true;
  bool hasMediaContent = true;
  bool hasSourceControl = true;
  std::vector<FakeProperty> properties;
  HRESULT countResult = S_OK;
  HRESULT infoResult = S_OK;
  ULONG returnedOverride = ~0u;  // reported by GetPropertyInfo instead of the real number
  HRESULT readResult = S_OK;
  // Read as Wine's bag does: at the first failing property it stops with E_FAIL, writing nothing
  // for that one or any after it.
  bool readStopsAtFailure = false;
  HRESULT titleResult = S_OK;
  std::wstring title;
  bool nullTitle = false;
  HRESULT descriptionResult = S_OK;
  std::wstring description;
  ULONG version = 5;
  ULONG startOffset = 0;

  // --- Observations ---
  LONG refs = 0;
  std::vector<void*> handedNames;  // every name block given out by GetPropertyInfo
  int readCalls = 0;
  int mediaContentQueries = 0;
  int getStartOffsetCalls = 0;
  std::wstring startOffsetAddress;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
        iid == IID_IBaseFilter) {
      *out = static_cast<IBaseFilter*>(this);
    } else if (iid == IID_IPropertyBag2 && hasBag) {
      *out = static_cast<IPropertyBag2*>(this);
    } else if (iid == kIidMediaContent) {
      ++mediaContentQueries;
      if (hasMediaContent) *out = static_cast<IAMMediaContent*>(this);
    } else if (iid == IID_ISourceControl && hasSourceControl) {
      *out = static_cast<ISourceControl*>(this);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

  // IPersist, IMediaFilter, IBaseFilter: present for the type, never used by the reader.
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override { return E_NOTIMPL; }
  STDMETHODIMP Pause() override { return E_NOTIMPL; }
  STDMETHODIMP Run(REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHODIMP GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
  STDMETHODIMP EnumPins(IEnumPins**) override { return E_NOTIMPL; }
  STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // IPropertyBag2
  STDMETHODIMP CountProperties(ULONG* count) override {
    *count = static_cast<ULONG>(properties.size());
    return countResult;
  }
  STDMETHODIMP GetPropertyInfo(ULONG first, ULONG count, PROPBAG2* infos,
                               ULONG* returned) override {
    if (FAILED(infoResult)) return infoResult;
    ULONG n = 0;
    for (ULONG i = first; i < properties.size() && n < count; ++i, ++n) {
      const FakeProperty& property = properties[i];
      PROPBAG2& info = infos[n];
      info.dwType = PROPBAG2_TYPE_DATA;
      info.vt = property.type;
      info.cfType = static_cast<CLIPFORMAT>(i + 1);  // its place, for a Read of a few
      info.dwHint = property.hint;
      info.clsid = GUID_NULL;
      info.pstrName = nullptr;
      if (!property.nullName) {
        const size_t bytes = (property.name.size() + 1) * sizeof(wchar_t);
        info.pstrName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        std::memcpy(info.pstrName, property.name.c_str(), bytes);
        handedNames.push_back(info.pstrName);
      }
    }
    *returned = returnedOverride != ~0u ? returnedOverride : n;
    return infoResult;
  }
  // Answers for the properties GetPropertyInfo described, found by the place it marked them with
  // (by their order where unmarked).
  STDMETHODIMP Read(ULONG count, PROPBAG2* infos, IErrorLog*, VARIANT* values,
                    HRESULT* results) override {
    ++readCalls;
    for (ULONG i = 0; i < count; ++i) {
      const ULONG place = infos && infos[i].cfType ? infos[i].cfType - 1u : i;
      if (place >= properties.size()) {
        results[i] = E_FAIL;
        continue;
      }
      const FakeProperty* property = &properties[place];
      if (readStopsAtFailure && FAILED(property->result)) return E_FAIL;
      results[i] = property->result;
      if (property->type == VT_UNKNOWN && property->object) {
        values[i].vt = VT_UNKNOWN;
        values[i].punkVal = property->object;
        property->object->AddRef();
      } else if (property->type == VT_BSTR) {
        values[i].vt = VT_BSTR;
        values[i].bstrVal = property->nullValue
                                ? nullptr
                                : SysAllocStringLen(property->value.data(),
                                                    static_cast<UINT>(property->value.size()));
      }
    }
    return readResult;
  }
  STDMETHODIMP Write(ULONG, PROPBAG2*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadObject(LPCOLESTR, DWORD, IUnknown*, IErrorLog*) override { return E_NOTIMPL; }

  // IDispatch, IAMMediaContent
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_AuthorName(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Title(BSTR* out) override {
    *out = nullptr;
    if (FAILED(titleResult)) return titleResult;
    if (!nullTitle) *out = SysAllocString(title.c_str());
    return titleResult;
  }
  STDMETHODIMP get_Rating(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Description(BSTR* out) override {
    *out = nullptr;
    if (FAILED(descriptionResult)) return descriptionResult;
    *out = SysAllocString(description.c_str());
    return descriptionResult;
  }
  STDMETHODIMP get_Copyright(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_BaseURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_LogoURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_LogoIconURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_WatermarkURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_MoreInfoURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_MoreInfoBannerImage(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_MoreInfoBannerURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_MoreInfoText(BSTR*) override { return E_NOTIMPL; }

  // ISourceControl
  ULONG STDMETHODCALLTYPE GetVersion() override { return version; }
  STDMETHODIMP Unused1() override { return E_NOTIMPL; }
  STDMETHODIMP Unused2() override { return E_NOTIMPL; }
  STDMETHODIMP NormalizeAddress(LPCWSTR, DWORD, BSTR*) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE GetStartOffset(LPCWSTR address) override {
    ++getStartOffsetCalls;
    startOffsetAddress = address ? address : L"(null)";
    return startOffset;
  }
};

}  // namespace kavo::test
