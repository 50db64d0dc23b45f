// Test programs that run a program as a child process: the child's standard output and error are
// captured, and every wait has a bound of its own. A child still running at the bound is ended, and
// the run says so together with everything the child printed.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>

namespace kavo::test {

struct ChildRun {
  bool started = false;
  bool ended = false;  // on its own within the bound
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;     // standard output and error together, "\r" dropped
  ULONGLONG endTick = 0;  // GetTickCount64 when the child ended or was given up
  double seconds = 0;     // from the start to endTick
};

// For failure messages: how the run ended, then the output.
std::ostream& operator<<(std::ostream& out, const ChildRun& run);

// Runs `program` with `arguments` (already quoted), standard input empty, inheriting this process's
// environment, and waits at most limitMs for it to end.
ChildRun RunChild(const std::wstring& program, const std::wstring& arguments, DWORD limitMs);

// The running test program itself, and a file in its folder.
std::wstring OwnProgram();
std::wstring BesideOwnProgram(const std::wstring& name);

}  // namespace kavo::test
