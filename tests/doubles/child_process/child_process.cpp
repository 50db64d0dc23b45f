#include "child_process.h"

#include <memory>
#include <vector>

namespace kavo::test {

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kLargestChunk = 1 << 16;

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Reads what the pipe holds now, and never more: a read that waits for more would wait for the
// pipe's end.
void TakeWaiting(HANDLE pipe, std::string& output) {
  std::vector<char> chunk(kLargestChunk);
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return;
    DWORD got = 0;
    if (!ReadFile(pipe, chunk.data(), waiting < kLargestChunk ? waiting : kLargestChunk, &got,
                  nullptr) ||
        got == 0)
      return;
    for (DWORD i = 0; i < got; ++i) {
      if (chunk[i] != '\r') output += chunk[i];
    }
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ChildRun& run) {
  if (!run.started) return out << "the child could not be started";
  if (run.ended) {
    out << "the child ended with exit code " << run.exitCode;
  } else {
    out << "the child was still running after " << run.seconds << " s and was ended";
  }
  return out << "; it printed:\n" << (run.output.empty() ? "(nothing)" : run.output);
}

ChildRun RunChild(const std::wstring& program, const std::wstring& arguments, DWORD limitMs) {
  ChildRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  const Handle reader(readEnd);
  Handle writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" ") + arguments;
  PROCESS_INFORMATION child{};
  const ULONGLONG start = GetTickCount64();
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    return run;
  }
  run.started = true;
  const Handle process(child.hProcess);
  CloseHandle(child.hThread);
  writer.reset();
  input.reset();

  // The pipe's end is no sign that the child has ended. Under Wine a process the child starts gets
  // copies of its standard handles even without inheritance, and the desktop process, which the
  // prefix's first window starts (an apartment's hidden window will do), keeps them until the last
  // process on the desktop, this one included, has gone. So the pipe is emptied while the child
  // runs, and the wait is for the child itself.
  for (;;) {
    const DWORD waited = WaitForSingleObject(child.hProcess, kPollMs);
    run.endTick = GetTickCount64();
    TakeWaiting(readEnd, run.output);
    if (waited == WAIT_OBJECT_0) {
      run.ended = true;
      break;
    }
    if (waited != WAIT_TIMEOUT || run.endTick - start >= limitMs) {
      TerminateProcess(child.hProcess, 99);
      WaitForSingleObject(child.hProcess, 10000);
      TakeWaiting(readEnd, run.output);
      break;
    }
  }
  run.seconds = static_cast<double>(run.endTick - start) / 1000.0;
  GetExitCodeProcess(child.hProcess, &run.exitCode);
  return run;
}

std::wstring OwnProgram() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

std::wstring BesideOwnProgram(const std::wstring& name) {
  const std::wstring own = OwnProgram();
  return own.substr(0, own.find_last_of(L"\\/") + 1) + name;
}

}  // namespace kavo::test
