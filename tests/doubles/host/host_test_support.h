// What tests driving the plug-in as a host share: the recorder shape that matches each host, the
// host's thread and COM apartment, the input item laid out per ABI, and UTF-8 text and temporary
// files seen from the test's side, written independently of the plug-in's own helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core_recorder.h"
#include "host_emulator.h"

namespace kavo::test {

CoreRecorder::Shape ShapeOf(HostKind kind);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

std::wstring TempFolder();
bool FileExists(const std::wstring& path);
std::string FileBytes(const std::wstring& path);  // "<missing>" when it cannot be read

// The recorded log lines (CoreRecorder::LogLines) of one host object as "<priority>: <text>". A
// line of another object or module, or one without its source place, stays whole: it matches
// nothing a test expects.
std::vector<std::string> Messages(const std::vector<std::string>& logLines, const void* object);

// The system's own words for a code, without their line break; written independently of the
// plug-in's helpers.
std::string SystemText(HRESULT result);

// True when the calling thread is outside any COM apartment.
bool ApartmentBalanced();

// Runs body on a thread of its own, as the host runs each input on a thread of its own.
template <typename Body>
void OnHostThread(Body body) {
  std::thread thread(body);
  thread.join();
}

// Runs body on a thread of its own, stops it after stopAfterMs as a host of this kind stops an
// input (3.0 kills the thread's own interrupt context, as it does its input and prefetch threads;
// 2.2 kills the access object) and answers how many ms body went on after the stop (negative: it
// had ended before). When body has not ended a second after the stop, `rescue` (if given) is called
// to end it, so that a body that ignores the stop fails its test instead of hanging it. With
// stopCallMs, also how long the host's own stop call took.
double MsAfterStop(const CoreRecorder& recorder, HostKind kind, const void* object,
                   DWORD stopAfterMs, const std::function<void()>& body,
                   const std::function<void()>& rescue = nullptr, double* stopCallMs = nullptr);
inline double MsAfterStop(const CoreRecorder& recorder, HostKind kind, const Access& access,
                          DWORD stopAfterMs, const std::function<void()>& body,
                          double* stopCallMs = nullptr) {
  return MsAfterStop(recorder, kind, access.Object(), stopAfterMs, body, nullptr, stopCallMs);
}

// The parent input a host passes to a main open, with its input item laid out for one ABI.
struct HostInput {
  alignas(8) unsigned char item[256] = {};
  char input[64] = {};
  alignas(8) char meta[256] = {};  // room for the record's strings the recorder stores
  void LayOut(const HostLayout& layout);
};

}  // namespace kavo::test
