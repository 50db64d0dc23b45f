// What differs between the host ABIs this library serves, as data: descriptor property codes,
// host object layouts, query numbers. Offsets are bytes on x86-64.
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
constexpr int VLC_EGENERIC = -1;

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
  AddressOnly,         // (address)                                   2.2
  TypeAddressForced,   // (type, address, forced)                     3.0 development
  AddSlaveFiveArgs,    // (type, uri, forced, notify, check extension) 3.0 release
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

constexpr int kAbiCount = 3;

struct HostAbi {
  int id;            // 0 .. kAbiCount-1: indexes per-ABI tables such as the call-site caches
  const char* name;  // for tests and diagnostics only

  // Host object (access_t / stream_t).
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

  std::ptrdiff_t itemMeta;  // p_meta inside input_item_t

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
};

inline constexpr HostAbi kAbi22{
    0, "2.2",  48, 56, 80, 88, kAbsent, 96, 104, 112, 120, 128, 136, 144,
    112,    false, false,
    35, SlaveCallShape::AddressOnly, 36, SubtitleCallShape::PathCheckExtension, true,
    LogShape::Legacy,
};

inline constexpr HostAbi kAbi30Dev{
    1, "3.0-development", kAbsent, 64, 96, 104, 112, 120, 128, kAbsent, kAbsent, 136, 144, 152,
    104,              true, true,
    38, SlaveCallShape::TypeAddressForced, 39, SubtitleCallShape::PathCheckExtension, false,
    LogShape::WithSource,
};

inline constexpr HostAbi kAbi30Release{
    2, "3.0-release", kAbsent, 64, 96, 104, 112, 120, 128, kAbsent, kAbsent, 136, 144, 152,
    104,           true, false,
    36, SlaveCallShape::AddSlaveFiveArgs, 36, SubtitleCallShape::AddSlaveFiveArgs, false,
    LogShape::WithSource,
};

}  // namespace kavo::host
