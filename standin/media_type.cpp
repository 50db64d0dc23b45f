#include "standin/media_type.h"

#include <uuids.h>

#include <algorithm>
#include <cstring>

namespace kavo::standin {

MediaType::MediaType() { std::memset(&type_, 0, sizeof type_); }

MediaType::MediaType(const MediaType& other) : MediaType() { other.CopyTo(&type_); }

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) {
    FreeMediaType(type_);
    other.CopyTo(&type_);
  }
  return *this;
}

MediaType::~MediaType() { FreeMediaType(type_); }

MediaType MediaType::Stream(const GUID& major) {
  MediaType stream;
  stream.type_.majortype = IsEqualGUID(major, GUID_NULL) ? MEDIATYPE_Stream : major;
  stream.type_.subtype = MEDIASUBTYPE_NULL;
  stream.type_.bFixedSizeSamples = TRUE;
  stream.type_.lSampleSize = 1;
  stream.type_.formattype = FORMAT_None;
  return stream;
}

MediaType MediaType::Subtitle(const SubtitleTrack& track) {
  MediaType subtitle;
  AM_MEDIA_TYPE& type = subtitle.type_;
  type.majortype = kMediaTypeSubtitle;
  type.subtype = kMediaSubtypeUtf8;
  type.bFixedSizeSamples = FALSE;
  type.bTemporalCompression = FALSE;
  type.formattype = kFormatSubtitleInfo;
  SubtitleInfo info;
  std::memset(&info, 0, sizeof info);
  info.offset = track.offset;
  std::memcpy(info.language, track.language.data(), std::min<size_t>(track.language.size(), 4));
  std::memcpy(info.trackName, track.name.data(),
              std::min<size_t>(track.name.size(), 255) * sizeof(WCHAR));
  // A block of another size than 520 lets tests offer a type the plug-in must skip.
  if (track.formatSize > 0) {
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(track.formatSize));
    if (type.pbFormat) {
      std::memset(type.pbFormat, 0, track.formatSize);
      std::memcpy(type.pbFormat, &info, std::min<size_t>(track.formatSize, sizeof info));
      type.cbFormat = track.formatSize;
    }
  }
  return subtitle;
}

MediaType MediaType::Text() {
  MediaType text;
  text.type_.majortype = MEDIATYPE_Text;
  text.type_.subtype = MEDIASUBTYPE_NULL;
  text.type_.formattype = FORMAT_None;
  return text;
}

HRESULT MediaType::CopyTo(AM_MEDIA_TYPE* target) const { return CopyMediaType(target, &type_); }

AM_MEDIA_TYPE* MediaType::NewCopy() const { return CreateMediaType(&type_); }

bool MediaType::Fits(const AM_MEDIA_TYPE* partial) const {
  if (!partial) return true;
  auto part = [](const GUID& wanted, const GUID& ours) {
    return IsEqualGUID(wanted, GUID_NULL) || IsEqualGUID(wanted, ours);
  };
  if (!part(partial->majortype, type_.majortype) || !part(partial->subtype, type_.subtype))
    return false;
  if (IsEqualGUID(partial->formattype, GUID_NULL)) return true;
  if (!IsEqualGUID(partial->formattype, type_.formattype) || partial->cbFormat != type_.cbFormat)
    return false;
  return type_.cbFormat == 0 || std::memcmp(partial->pbFormat, type_.pbFormat, type_.cbFormat) == 0;
}

}  // namespace kavo::standin
