// An AM_MEDIA_TYPE that owns its format block, and the media types the stand-in's pins offer.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "common/media_type.h"
#include "source/source_filter.h"
#include "standin/catalog.h"

namespace kavo::standin {

class MediaType {
 public:
  MediaType();
  MediaType(const MediaType& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();

  // A byte stream of the given major type (GUID_NULL: MEDIATYPE_Stream).
  static MediaType Stream(const GUID& major);
  static MediaType Subtitle(const SubtitleTrack& track);
  // Plain text samples (MEDIATYPE_Text), with no format block.
  static MediaType Text();

  const AM_MEDIA_TYPE& get() const { return type_; }
  // Deep copy into a caller's structure, whose old contents are not freed.
  HRESULT CopyTo(AM_MEDIA_TYPE* target) const;
  // A CoTaskMem-allocated copy, as enumerators hand out; null when out of memory.
  AM_MEDIA_TYPE* NewCopy() const;
  // Whether a partial type (GUID_NULL parts match anything; null matches all) fits this one.
  bool Fits(const AM_MEDIA_TYPE* partial) const;

 private:
  AM_MEDIA_TYPE type_;
};

}  // namespace kavo::standin
