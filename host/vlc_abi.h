// What differs between the host ABIs this library serves, as data: descriptor property codes,
// host object layouts for x86-64 and x86, query numbers. Offsets are bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavo::host {

// Property codes of the descriptor setter (the same in every ABI served).
enum DescriptorProperty : int {
  VLC_MODULE_CREATE = 0,
  VLC_CONFIG_CREATE = 1,
  VLC_MODULE_SHORTCUT = 257,
  VLC_MODULE_CAPABILITY = 258,
  VLC_MODULE_SCORE = 259,
  VLC_MODULE_CB_OPEN = 260,
  VLC_MODULE_CB_CLOSE = 261,
  VLC_MODULE_NAME = 263,
  VLC_MODULE_SHORTNAME = 264,
  VLC_MODULE_DESCRIPTION = 265,
  VLC_CONFIG_VALUE = 4097,
};

constexpr int CONFIG_CATEGORY = 6;
constexpr int CONFIG_SUBCATEGORY = 7;
constexpr std::int64_t CAT_INPUT = 4;
constexpr std::int64_t SUBCAT_INPUT_ACCESS = 402;

constexpr int VLC_SUCCESS = 0;
// An open's failure: the host lets its next module try the address.
constexpr int VLC_EGENERIC = -1;
// An open's answer when the host stopped it: the right module, but aborted. The host's module
// loader (2.2 and 3.0 alike) then ends its search instead of trying the address elsewhere.
constexpr int VLC_ETIMEOUT = -3;

// The descriptor setter every entry point receives.
using SetterFunction = int (*)(void* opaque, void* target, int property, ...);

// The host's vlc_value_t: an 8-byte union passed by value.
union VlcValue {
  std::int64_t i_int;
  bool b_bool;
  float f_float;
  char* psz_string;
  void* p_address;
};
static_assert(sizeof(VlcValue) == 8);

constexpr int VLC_VAR_INTEGER = 0x0030;
constexpr int VLC_VAR_FLOAT = 0x0050;

// Message priorities of vlc_Log (same in every ABI served).
enum LogPriority : int { VLC_MSG_INFO = 0, VLC_MSG_ERR = 1, VLC_MSG_WARN = 2, VLC_MSG_DBG = 3 };

// Meta types of input_item_SetMeta (same numbering in every ABI served).
constexpr int vlc_meta_Title = 0;
constexpr int vlc_meta_Description = 6;
constexpr int vlc_meta_Date = 8;
constexpr int vlc_meta_ArtworkURL = 16;

// Stream control queries (access_t under 2.2, stream_t under 3.0).
constexpr int STREAM_CAN_SEEK = 0;
constexpr int STREAM_CAN_FASTSEEK = 1;
constexpr int STREAM_CAN_PAUSE = 2;
constexpr int STREAM_CAN_CONTROL_PACE = 3;
constexpr int STREAM_GET_SIZE = 6;
constexpr int STREAM_IS_DIRECTORY = 7;
constexpr int STREAM_GET_PTS_DELAY = 0x101;
constexpr int STREAM_SET_PAUSE_STATE = 0x200;

constexpr std::ptrdiff_t kAbsent = -1;

// How the host wants an audio slave and a subtitle file handed over.
enum class SlaveCallShape {
  AddressOnly,        // (address)                                   2.2
  TypeAddressForced,  // (type, address, forced)                     3.0 development
  AddSlaveFiveArgs,   // (type, uri, forced, notify, check extension) 3.0 release
};
enum class SubtitleCallShape {
  PathCheckExtension,  // (path, check extension = 1)                 2.2, 3.0 development
  AddSlaveFiveArgs,    // (type 0, file URI, forced 0, notify 0, check extension 1) 3.0 release
};

// The arguments of the host's vlc_Log before its format: a wrong variadic shape crashes the host.
// The source place came into the 3.0 line in 2015, before any development build this library
// serves, and stayed in every 3.0 release.
enum class LogShape {
  None,        // no log call under this ABI
  Legacy,      // (object, priority, module, format, ...)                        2.2
  WithSource,  // (object, priority, module, file, line, function, format, ...) 3.0
};

// How the host tells an access that waits on the source filter to give up.
enum class StopShape {
  ObjectKilled,  // 2.2: the input kills the access object; only polling vlc_object_alive sees it
  Interrupt,     // 3.0: the waiting thread's interrupt context is killed and its wake-up called
};

constexpr int kAbiCount = 3;

// Where the host's compiler put the members we touch: one row per host object and architecture.
// The Win32 rows differ in more than pointer size: int64_t members stay 8-aligned (info.i_pos).
struct ObjectLayout {
  std::ptrdiff_t accessScheme;  // psz_access, kAbsent where the object has none
  std::ptrdiff_t location;      // psz_location
  std::ptrdiff_t read;          // pf_read
  std::ptrdiff_t block;         // pf_block
  std::ptrdiff_t readdir;       // pf_readdir, kAbsent where the object has none
  std::ptrdiff_t seek;          // pf_seek
  std::ptrdiff_t control;       // pf_control
  std::ptrdiff_t infoPosition;  // info.i_pos (2.2 keeps the position on the host object)
  std::ptrdiff_t infoEof;       // info.b_eof
  std::ptrdiff_t sys;           // p_sys
  std::ptrdiff_t input;         // p_input
  std::size_t objectSize;       // bytes up to and including the last member we touch
};

// 2.2's access_t on x86-64.
inline constexpr ObjectLayout kAccess22Win64 = [] {
  ObjectLayout layout{};
  layout.accessScheme = 48;
  layout.location = 56;
  layout.read = 80;
  layout.block = 88;
  layout.readdir = kAbsent;
  layout.seek = 96;
  layout.control = 104;
  layout.infoPosition = 112;
  layout.infoEof = 120;
  layout.sys = 128;
  layout.input = 136;
  layout.objectSize = 144;
  return layout;
}();

// 2.2's access_t on x86.
inline constexpr ObjectLayout kAccess22Win32 = [] {
  ObjectLayout layout{};
  layout.accessScheme = 28;
  layout.location = 32;
  layout.read = 44;
  layout.block = 48;
  layout.readdir = kAbsent;
  layout.seek = 52;
  layout.control = 56;
  layout.infoPosition = 64;
  layout.infoEof = 72;
  layout.sys = 80;
  layout.input = 84;
  layout.objectSize = 88;
  return layout;
}();

// 3.0's stream_t on x86-64, the same in development builds and releases.
inline constexpr ObjectLayout kStream30Win64 = [] {
  ObjectLayout layout{};
  layout.accessScheme = kAbsent;
  layout.location = 64;
  layout.read = 96;
  layout.block = 104;
  layout.readdir = 112;
  layout.seek = 120;
  layout.control = 128;
  layout.infoPosition = kAbsent;
  layout.infoEof = kAbsent;
  layout.sys = 136;
  layout.input = 144;
  layout.objectSize = 152;
  return layout;
}();

// 3.0's stream_t on x86.
inline constexpr ObjectLayout kStream30Win32 = [] {
  ObjectLayout layout{};
  layout.accessScheme = kAbsent;
  layout.location = 36;
  layout.read = 52;
  layout.block = 56;
  layout.readdir = 60;
  layout.seek = 64;
  layout.control = 68;
  layout.infoPosition = kAbsent;
  layout.infoEof = kAbsent;
  layout.sys = 72;
  layout.input = 76;
  layout.objectSize = 80;
  return layout;
}();

// The members of the host's input_item_t that metadata goes through.
struct ItemLayout {
  std::ptrdiff_t meta;  // p_meta
  // p_meta in the ABI's earlier builds where it sat elsewhere, kAbsent where every build agrees.
  std::ptrdiff_t earlierMeta;
  // The item's own lock, kAbsent where it is not the same in every build of the ABI. Without it
  // p_meta is only used once it proves to hold what input_item_SetMeta just stored.
  std::ptrdiff_t lock;
};

// 2.2: int i_id first; the lock follows an event manager with two mutexes and one array.
inline constexpr ItemLayout kItem22Win64 = [] {
  ItemLayout item{};
  item.meta = 112;
  item.earlierMeta = kAbsent;
  item.lock = 256;
  return item;
}();
inline constexpr ItemLayout kItem22Win32 = [] {
  ItemLayout item{};
  item.meta = 64;
  item.earlierMeta = kAbsent;
  item.lock = 148;
  return item;
}();
// 3.0 development builds dropped i_id in mid-November 2016 under the same entry point: before,
// p_meta sat at 112 on x86-64 (104 held p_stats); on x86 padding before i_duration kept it at 60.
// Every later member moved with it, the item's lock included.
inline constexpr ItemLayout kItem30DevWin64 = [] {
  ItemLayout item{};
  item.meta = 104;
  item.earlierMeta = 112;
  item.lock = kAbsent;
  return item;
}();
inline constexpr ItemLayout kItem30DevWin32 = [] {
  ItemLayout item{};
  item.meta = 60;
  item.earlierMeta = kAbsent;
  item.lock = kAbsent;
  return item;
}();
// 3.0 releases: the lock follows an event manager with one mutex and eight listener arrays.
inline constexpr ItemLayout kItem30ReleaseWin64 = [] {
  ItemLayout item{};
  item.meta = 104;
  item.earlierMeta = kAbsent;
  item.lock = 344;
  return item;
}();
inline constexpr ItemLayout kItem30ReleaseWin32 = [] {
  ItemLayout item{};
  item.meta = 60;
  item.earlierMeta = kAbsent;
  item.lock = 220;
  return item;
}();

// The rows of the architecture this library is built for.
inline constexpr bool kWin64 = sizeof(void*) == 8;
inline constexpr const ObjectLayout& kAccess22 = kWin64 ? kAccess22Win64 : kAccess22Win32;
inline constexpr const ObjectLayout& kStream30 = kWin64 ? kStream30Win64 : kStream30Win32;
inline constexpr const ItemLayout& kItem22 = kWin64 ? kItem22Win64 : kItem22Win32;
inline constexpr const ItemLayout& kItem30Dev = kWin64 ? kItem30DevWin64 : kItem30DevWin32;
inline constexpr const ItemLayout& kItem30Release =
    kWin64 ? kItem30ReleaseWin64 : kItem30ReleaseWin32;

// One host ABI: its object's layout and how it wants to be called.
struct HostAbi : ObjectLayout {
  int id;            // 0 .. kAbiCount-1: indexes per-ABI tables such as the call-site caches
  const char* name;  // for tests and diagnostics only

  ItemLayout item;  // the parent input's input_item_t

  // Descriptor: 3.0 passes a callback name before each callback.
  bool namedCallbacks;

  // Query 7: answered with false through a bool* (development 3.0), or refused (2.2, release 3.0,
  // where the query carries no argument at all).
  bool answersDirectoryQuery;

  // Hand-over to the parent input.
  int addSlaveQuery;
  SlaveCallShape slaveShape;
  int addSubtitleQuery;
  SubtitleCallShape subtitleShape;
  bool slaveSchemeFromAccess;  // 2.2 picks "yshttp" or "yshttps" from psz_access

  LogShape logShape;
  StopShape stopShape;
};

// Each ABI with one field per line. Every row sets every field: one left out would be zero.
inline constexpr HostAbi kAbi22 = [] {
  HostAbi abi{};
  static_cast<ObjectLayout&>(abi) = kAccess22;
  abi.id = 0;
  abi.name = "2.2";
  abi.item = kItem22;
  abi.namedCallbacks = false;
  abi.answersDirectoryQuery = false;
  abi.addSlaveQuery = 35;
  abi.slaveShape = SlaveCallShape::AddressOnly;
  abi.addSubtitleQuery = 36;
  abi.subtitleShape = SubtitleCallShape::PathCheckExtension;
  abi.slaveSchemeFromAccess = true;
  abi.logShape = LogShape::Legacy;
  abi.stopShape = StopShape::ObjectKilled;
  return abi;
}();

inline constexpr HostAbi kAbi30Dev = [] {
  HostAbi abi{};
  static_cast<ObjectLayout&>(abi) = kStream30;
  abi.id = 1;
  abi.name = "3.0-development";
  abi.item = kItem30Dev;
  abi.namedCallbacks = true;
  abi.answersDirectoryQuery = true;
  abi.addSlaveQuery = 38;
  abi.slaveShape = SlaveCallShape::TypeAddressForced;
  abi.addSubtitleQuery = 39;
  abi.subtitleShape = SubtitleCallShape::PathCheckExtension;
  abi.slaveSchemeFromAccess = false;
  abi.logShape = LogShape::WithSource;
  abi.stopShape = StopShape::Interrupt;
  return abi;
}();

inline constexpr HostAbi kAbi30Release = [] {
  HostAbi abi{};
  static_cast<ObjectLayout&>(abi) = kStream30;
  abi.id = 2;
  abi.name = "3.0-release";
  abi.item = kItem30Release;
  abi.namedCallbacks = true;
  abi.answersDirectoryQuery = false;
  abi.addSlaveQuery = 36;
  abi.slaveShape = SlaveCallShape::AddSlaveFiveArgs;
  abi.addSubtitleQuery = 36;
  abi.subtitleShape = SubtitleCallShape::AddSlaveFiveArgs;
  abi.slaveSchemeFromAccess = false;
  abi.logShape = LogShape::WithSource;
  abi.stopShape = StopShape::Interrupt;
  return abi;
}();

}  // namespace kavo::host
