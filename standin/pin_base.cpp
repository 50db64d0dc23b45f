#include "standin/pin_base.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cwchar>
#include <new>

#include "standin/enumerators.h"

namespace kavo::standin {

using Microsoft::WRL::ComPtr;

PinBase::PinBase(IBaseFilter& filter, std::wstring name, PIN_DIRECTION direction,
                 std::vector<MediaType> types)
    : filter_(filter), name_(std::move(name)), direction_(direction), types_(std::move(types)) {}

PinBase::~PinBase() = default;

STDMETHODIMP PinBase::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin)) {
    *object = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  return QueryOther(riid, object);
}

STDMETHODIMP_(ULONG) PinBase::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) PinBase::Release() { return filter_.Release(); }

HRESULT PinBase::QueryOther(REFIID, void**) { return E_NOINTERFACE; }
HRESULT PinBase::CompleteConnect(IPin*) { return S_OK; }
void PinBase::BreakConnect() {}

STDMETHODIMP PinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
  if (!receiver) return E_POINTER;
  if (direction_ != PINDIR_OUTPUT) return E_UNEXPECTED;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (peer_ || connecting_) return VFW_E_ALREADY_CONNECTED;
    connecting_ = true;
  }
  HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
  for (const MediaType& type : types_) {
    if (!type.Fits(wanted)) continue;
    // The peer may call back into this pin (QueryInterface for a reader, ConnectedTo): no lock.
    if (FAILED(receiver->ReceiveConnection(this, &type.get()))) continue;
    {
      std::lock_guard<std::mutex> guard(lock_);
      peer_ = receiver;
      connectedType_ = type;
    }
    result = CompleteConnect(receiver);
    if (SUCCEEDED(result)) break;
    receiver->Disconnect();
    ComPtr<IPin> dropped;
    {
      std::lock_guard<std::mutex> guard(lock_);
      dropped.Swap(peer_);
      connectedType_ = MediaType();
    }
    BreakConnect();
  }
  std::lock_guard<std::mutex> guard(lock_);
  connecting_ = false;
  return SUCCEEDED(result) ? S_OK : result;
}

STDMETHODIMP PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  // The only input pin the stand-in has (a fault) accepts nothing.
  return direction_ == PINDIR_OUTPUT ? E_UNEXPECTED : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP PinBase::Disconnect() {
  ComPtr<IPin> dropped;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!peer_) return S_FALSE;
    dropped.Swap(peer_);
    connectedType_ = MediaType();
  }
  BreakConnect();
  return S_OK;
}

STDMETHODIMP PinBase::ConnectedTo(IPin** peer) {
  if (!peer) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  *peer = peer_.Get();
  if (!*peer) return VFW_E_NOT_CONNECTED;
  (*peer)->AddRef();
  return S_OK;
}

STDMETHODIMP PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (!peer_) {
    *type = AM_MEDIA_TYPE();
    return VFW_E_NOT_CONNECTED;
  }
  return connectedType_.CopyTo(type);
}

STDMETHODIMP PinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = direction_;
  const size_t length = std::min<size_t>(name_.size(), ARRAYSIZE(info->achName) - 1);
  std::wmemcpy(info->achName, name_.c_str(), length);
  info->achName[length] = L'\0';
  return S_OK;
}

STDMETHODIMP PinBase::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

STDMETHODIMP PinBase::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
  return S_OK;
}

STDMETHODIMP PinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  for (const MediaType& ours : types_) {
    if (ours.Fits(type)) return S_OK;
  }
  return S_FALSE;
}

STDMETHODIMP PinBase::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = nullptr;
  try {
    *types = new MediaTypeEnumerator(this, types_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  (*types)->AddRef();
  return S_OK;
}

STDMETHODIMP PinBase::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP PinBase::EndOfStream() { return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
STDMETHODIMP PinBase::BeginFlush() { return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
STDMETHODIMP PinBase::EndFlush() { return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }

STDMETHODIMP PinBase::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
  return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED;
}

}  // namespace kavo::standin
