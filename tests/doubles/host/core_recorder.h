// The test side of the recording libvlccore.dll: loads it into the test process and reads back
// the calls the plug-in made to the host's core functions.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kavo::test {

class CoreRecorder {
 public:
  // Host shapes, deciding how input_Control's arguments are read.
  enum Shape { Host22 = 0, Host30Development = 1, Host30Release = 2 };

  // Loads libvlccore.dll (the recorder beside the test program); false if it cannot.
  bool Load();
  void Reset(Shape shape, void* inputItem = nullptr);
  // The calling thread's calls are read in this shape from now on, whatever Reset says: for a
  // test that plays several hosts at once.
  void SetThreadShape(Shape shape);
  // Until the next reset, the item keeps p_meta at `offset`, as an early build of the shape did.
  void MoveItemMeta(std::ptrdiff_t offset);
  std::vector<std::string> Calls() const;
  // The performance counter when each call was recorded, in the order of Calls().
  std::vector<LONGLONG> CallTimes() const;
  // Until at least `count` calls are recorded (true) or timeoutMs has passed (false).
  bool WaitForCalls(size_t count, DWORD timeoutMs) const;
  // Until done() holds (true) or timeoutMs has passed (false); asked again whenever a call or a log
  // line is recorded.
  template <typename Done>
  bool WaitUntil(Done done, DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      const size_t calls = static_cast<size_t>(count_());
      const size_t lines = LogLines().size();
      if (done()) return true;
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline || !WaitForMore(calls, lines, static_cast<DWORD>(deadline - now)))
        return done();
    }
  }
  // vlc_Log calls, each "<priority> \"<module>\" <object>: <text>" (see recording_vlccore.cpp).
  std::vector<std::string> LogLines() const;

  // Stopping as the hosts do. 3.0: an interrupt context, made current on the thread that will
  // wait (SetInterrupt(context), or null to leave it), killed from any thread. 2.2: the access
  // object killed.
  void* NewInterrupt() const;
  void SetInterrupt(void* context) const;
  void KillInterrupt(void* context) const;
  // Interrupts without killing, as the host does to wake a wait it does not end.
  void RaiseInterrupt(void* context) const;
  void DestroyInterrupt(void* context) const;
  void KillObject(const void* object) const;
  // What the host's var_Inherit answers for an integer `name` until the next Reset.
  void SetInteger(const char* name, long long value) const;

  // How the recorder prints a pointer.
  static std::string Pointer(const void* p);

 private:
  std::vector<std::string> Lines(int log) const;
  template <typename Function>
  Function Export(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  bool WaitForMore(size_t calls, size_t lines, DWORD timeoutMs) const;

  HMODULE module_ = nullptr;
  void (*reset_)(int, void*) = nullptr;
  int (*count_)() = nullptr;
  long long (*callTime_)(int) = nullptr;
  int (*waitForCalls_)(int, int) = nullptr;
  int (*waitForMore_)(int, int, int) = nullptr;
  void (*threadShape_)(int) = nullptr;
  void (*moveItemMeta_)(std::ptrdiff_t) = nullptr;
  int (*line_)(int, int, char*, int) = nullptr;
};

}  // namespace kavo::test
