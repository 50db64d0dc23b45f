// An AM_MEDIA_TYPE that owns its format block, and the media types the stand-in's pins offer.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "standin/catalog.h"

namespace kavo::standin {

inline constexpr GUID kMediaTypeSubtitle = {
    0xe487eb08, 0x6b26, 0x4be9, {0x9d, 0xd3, 0x99, 0x34, 0x34, 0xd3, 0x13, 0xfd}};
inline constexpr GUID kMediaSubtypeUtf8 = {
    0x87c0b230, 0x03a8, 0x4fdf, {0x80, 0x10, 0xb2, 0x7a, 0x58, 0x48, 0x20, 0x0d}};
inline constexpr GUID kFormatSubtitleInfo = {
    0xa33d2f7d, 0x96bc, 0x4337, {0xb2, 0x3b, 0xa8, 0xb9, 0xfb, 0xc2, 0x95, 0xe9}};

#pragma pack(push, 1)
struct SubtitleInfo {
  DWORD offset;
  CHAR language[4];
  WCHAR trackName[256];
};
#pragma pack(pop)
static_assert(sizeof(SubtitleInfo) == 520, "the subtitle format block is 520 bytes");

class MediaType {
 public:
  MediaType();
  MediaType(const MediaType& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();

  // A byte stream of the given major type (GUID_NULL: MEDIATYPE_Stream).
  static MediaType Stream(const GUID& major);
  static MediaType Subtitle(const SubtitleTrack& track);

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

// Frees what a media type points to (format block, pUnk), not the structure itself.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type);

}  // namespace kavo::standin
