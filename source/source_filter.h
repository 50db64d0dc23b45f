// The outside source filter's contract, written once: its class id, its own control interface,
// the media type of its subtitle pins with their format block, and the one interface id mingw's
// import libraries lack. The plug-in only calls through these declarations and the stand-in under
// standin/ implements them; the filter is a separate COM server, so the vtable order and the block
// layout here are the contract and must not change.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <cstddef>
#include <string>

inline constexpr GUID CLSID_KavoSourceFilter = {
    0x55c39876, 0xff76, 0x4ab0, {0xaa, 0xb0, 0x0a, 0x46, 0xd5, 0x35, 0xa2, 0x6b}};

inline constexpr GUID IID_ISourceControl = {
    0xff762acc, 0x13ec, 0x463a, {0xa2, 0x9c, 0xfd, 0x4b, 0x0c, 0xd3, 0xe0, 0x19}};

struct ISourceControl : IUnknown {
  virtual ULONG STDMETHODCALLTYPE GetVersion() = 0;
  // Two slots the plug-in never calls; they keep the later methods at their vtable positions.
  virtual HRESULT STDMETHODCALLTYPE Unused1() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused2() = 0;
  // S_OK with the canonical address in *normalized (caller frees); anything else declines.
  // reserved is always 0.
  virtual HRESULT STDMETHODCALLTYPE NormalizeAddress(LPCWSTR address, DWORD reserved,
                                                     BSTR* normalized) = 0;
  // Where playback should begin, in milliseconds; 0 for none. Only from version 5 on.
  virtual ULONG STDMETHODCALLTYPE GetStartOffset(LPCWSTR address) = 0;
};

// Lets __uuidof, IID_PPV_ARGS and ComPtr::As work with the interface under mingw-w64. The macro
// wants the parts as literals, so they come from the constant above through a template.
template <>
constexpr const GUID& __mingw_uuidof<ISourceControl>() {
  return IID_ISourceControl;
}
template <>
constexpr const GUID& __mingw_uuidof<ISourceControl*>() {
  return IID_ISourceControl;
}

namespace kavo {

// A subtitle pin offers exactly this major type, subtype and format type, with a SubtitleInfo
// block of sizeof(SubtitleInfo) bytes.
inline constexpr GUID kMediaTypeSubtitle = {
    0xe487eb08, 0x6b26, 0x4be9, {0x9d, 0xd3, 0x99, 0x34, 0x34, 0xd3, 0x13, 0xfd}};
inline constexpr GUID kMediaSubtypeUtf8 = {
    0x87c0b230, 0x03a8, 0x4fdf, {0x80, 0x10, 0xb2, 0x7a, 0x58, 0x48, 0x20, 0x0d}};
inline constexpr GUID kFormatSubtitleInfo = {
    0xa33d2f7d, 0x96bc, 0x4337, {0xb2, 0x3b, 0xa8, 0xb9, 0xfb, 0xc2, 0x95, 0xe9}};

#pragma pack(push, 1)
struct SubtitleInfo {
  DWORD offset;
  CHAR language[4];  // system ANSI code page, NUL-terminated unless all four are used
  WCHAR trackName[256];
};
#pragma pack(pop)
static_assert(sizeof(SubtitleInfo) == 520, "the subtitle format block is 520 bytes");
static_assert(offsetof(SubtitleInfo, language) == 4 && offsetof(SubtitleInfo, trackName) == 8);

// The filter's IAMMediaContent, which mingw declares without its id.
inline constexpr GUID kIidMediaContent = {
    0xfa2aa8f4, 0x8b62, 0x11d0, {0xa5, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};

// A GUID in the registry's form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", NUL-terminated.
struct GuidText {
  wchar_t text[39];
};

constexpr GuidText RegistryForm(const GUID& id) {
  GuidText out{};
  int at = 0;
  const auto put = [&](unsigned long value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      out.text[at++] = L"0123456789ABCDEF"[(value >> shift) & 0xf];
    }
  };
  out.text[at++] = L'{';
  put(id.Data1, 8);
  out.text[at++] = L'-';
  put(id.Data2, 4);
  out.text[at++] = L'-';
  put(id.Data3, 4);
  out.text[at++] = L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) out.text[at++] = L'-';
    put(id.Data4[i], 2);
  }
  out.text[at++] = L'}';
  return out;
}

inline constexpr GuidText kSourceFilterClsidText = RegistryForm(CLSID_KavoSourceFilter);

// The class's key below HKEY_CLASSES_ROOT, or below Software\Classes of HKCU and HKLM.
inline std::wstring SourceFilterClassKey() {
  return std::wstring(L"CLSID\\") + kSourceFilterClsidText.text;
}

}  // namespace kavo
