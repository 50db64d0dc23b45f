#include "host/metadata_publisher.h"

#include <cstring>
#include <exception>

#include "host/core_functions.h"
#include "meta/metadata_reader.h"

namespace kavo {

namespace {

using Microsoft::WRL::ComPtr;

// The meta type of a key the item has a field for, or -1 for an extra.
int MetaTypeOf(const std::string& key) {
  if (key == "title") return host::vlc_meta_Title;
  if (key == "description") return host::vlc_meta_Description;
  if (key == "year") return host::vlc_meta_Date;
  if (key == "thumbnail_urls") return host::vlc_meta_ArtworkURL;
  return -1;
}

void* ItemMeta(const host::HostAbi& abi, void* item) {
  void* meta = nullptr;
  std::memcpy(&meta, static_cast<const char*>(item) + abi.itemMeta, sizeof meta);
  return meta;
}

}  // namespace

void PublishMetadata(const host::HostAbi& abi, void* input, ComPtr<IBaseFilter> filter) noexcept {
  struct Consumed {
    ComPtr<IBaseFilter>& filter;
    ~Consumed() { filter.Reset(); }
  } consumed{filter};

  void* const item = host::InputGetItem(input);
  if (!item) return;

  // Running out of memory only loses what is not yet published; the open goes on.
  try {
    MetadataRecord record;
    ReadFilterMetadata(filter, record);
    void* const meta = ItemMeta(abi, item);
    for (const auto& [key, value] : record) {
      const int type = MetaTypeOf(key);
      if (type >= 0) {
        host::InputItemSetMeta(item, type, value.c_str());
      } else if (meta) {
        host::MetaAddExtra(meta, key.c_str(), value.c_str());
      }
    }
  } catch (const std::exception&) {
  }
}

int SetStartTime(void* input, float seconds) noexcept {
  host::VlcValue value{};
  value.f_float = seconds;
  return host::VarSetChecked(input, "start-time", host::VLC_VAR_FLOAT, value);
}

ULONG ApplyStartTime(void* input, IBaseFilter* filter, const std::wstring& address) noexcept {
  const ULONG offset = QueryStartOffset(filter, address);
  if (offset == 0) return 0;
  return SetStartTime(input, static_cast<float>(offset) * 0.001f) == 0 ? offset : 0;
}

}  // namespace kavo
