// The outside source filter's class id and its own control interface. The plug-in only calls
// through this declaration; the filter is a separate COM server (the stand-in under standin/
// implements the same contract), so the vtable order here is the contract and must not change.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <oleauto.h>

// {55C39876-FF76-4AB0-AAB0-0A46D535A26B}
inline constexpr GUID CLSID_KavoSourceFilter = {
    0x55c39876, 0xff76, 0x4ab0, {0xaa, 0xb0, 0x0a, 0x46, 0xd5, 0x35, 0xa2, 0x6b}};

// {FF762ACC-13EC-463A-A29C-FD4B0CD3E019}
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

// Lets __uuidof, IID_PPV_ARGS and ComPtr::As work with the interface under mingw-w64.
__CRT_UUID_DECL(ISourceControl, 0xff762acc, 0x13ec, 0x463a, 0xa2, 0x9c, 0xfd, 0x4b, 0x0c, 0xd3,
                0xe0, 0x19)
