#include "host/metadata_publisher.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <vector>

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

void* PointerAt(const void* object, std::ptrdiff_t offset) {
  void* pointer = nullptr;
  std::memcpy(&pointer, static_cast<const char*>(object) + offset, sizeof pointer);
  return pointer;
}

// True when every byte from `at` on for `size` bytes lies in committed memory that may be read.
bool Readable(const void* at, std::size_t size) {
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const char* next = static_cast<const char*>(at);
  const char* const end = next + size;
  while (next < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(next, &region, sizeof region) != sizeof region) return false;
    if (region.State != MEM_COMMIT || !(region.Protect & kReadable) ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
      return false;
    next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}

// The last field input_item_SetMeta was given: the item's meta record is recognised by it.
struct PublishedField {
  int type = -1;
  const std::string* value = nullptr;
};

using Extras = std::vector<const MetadataRecord::value_type*>;

// The host's vlc_meta_t keeps its fields' strings in an array at its start (2.2 and 3.0 alike), and
// input_item_SetMeta stores a copy of the value there: the record holding that copy is the item's.
bool HoldsField(const void* meta, const PublishedField& field) {
  if (!meta || !field.value) return false;
  const std::size_t slot = static_cast<std::size_t>(field.type) * sizeof(void*);
  if (!Readable(meta, slot + sizeof(void*))) return false;
  const char* const text =
      static_cast<const char*>(PointerAt(meta, static_cast<std::ptrdiff_t>(slot)));
  const std::size_t size = field.value->size() + 1;
  return text && Readable(text, size) && std::memcmp(text, field.value->c_str(), size) == 0;
}

void AddExtras(void* meta, const Extras& extras) {
  for (const auto* extra : extras)
    host::MetaAddExtra(meta, extra->first.c_str(), extra->second.c_str());
}

void PublishExtras(const host::ItemLayout& layout, void* item, const PublishedField& field,
                   const Extras& extras) {
  if (layout.lock == host::kAbsent) {
    // The builds of this ABI disagree on where p_meta and the lock are: only a candidate that
    // proves to be the record is written, unlocked. Without a field nothing proves itself.
    for (const std::ptrdiff_t offset : {layout.meta, layout.earlierMeta}) {
      if (offset == host::kAbsent) continue;
      void* const meta = PointerAt(item, offset);
      if (!HoldsField(meta, field)) continue;
      AddExtras(meta, extras);
      return;
    }
    return;
  }
  // As the host's own item functions do: p_meta is read and changed under the item's lock, since
  // the item's listeners may be reading the record on their threads.
  void* const lock = static_cast<char*>(item) + layout.lock;
  if (!host::MutexLock(lock)) return;
  if (void* const meta = PointerAt(item, layout.meta)) AddExtras(meta, extras);
  host::MutexUnlock(lock);
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
    // The fields first: input_item_SetMeta gives the item its meta record when it has none yet,
    // so the extras find one whenever a field came before them.
    PublishedField field;
    Extras extras;
    for (const auto& entry : record) {
      const int type = MetaTypeOf(entry.first);
      if (type < 0) {
        extras.push_back(&entry);
      } else if (host::InputItemSetMeta(item, type, entry.second.c_str()) == 0) {
        field.type = type;
        field.value = &entry.second;
      }
    }
    if (!extras.empty()) PublishExtras(abi.item, item, field, extras);
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
