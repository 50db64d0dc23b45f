// Media types: AM_MEDIA_TYPE owns a CoTaskMem format block and a counted pUnk, and every copy,
// free and delete here honours both. Reentrant; a CMediaType belongs to one thread at a time.
#pragma once

#include <dshow.h>

#include <memory>

namespace kavo {

// Frees what the type owns (format block, pUnk) and leaves the struct with neither.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees what the type owns, then the CoTaskMem block of the struct itself. Null is allowed.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// Deep copy into a target that owns nothing. E_OUTOFMEMORY leaves the target owning nothing.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A deep copy in a CoTaskMem block, for callers that free it with DeleteMediaType; null on failure.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
// Whether two types are the same type: major type, subtype, format type and format block.
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// An AM_MEDIA_TYPE that frees what it owns. Movable, not copyable: copies go through Set, which
// can fail.
class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID& majorType);
  ~CMediaType();
  CMediaType(const CMediaType&) = delete;
  CMediaType& operator=(const CMediaType&) = delete;
  CMediaType(CMediaType&& other) noexcept;
  CMediaType& operator=(CMediaType&& other) noexcept;

  HRESULT Set(const AM_MEDIA_TYPE& source);
  void Clear();
};

// A type in its own CoTaskMem block, as enumerators and samples hand them out.
struct MediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const { DeleteMediaType(type); }
};
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

}  // namespace kavo
