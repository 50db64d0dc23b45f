// A descriptor setter that records what an entry point tells the host, one line per call, and
// keeps the open and close callbacks it was given. Lines read "<target> <property> <arguments>",
// with targets "null", "module" or "config".
#pragma once

#include <string>
#include <vector>

namespace kavo::test {

class DescriptorRecorder {
 public:
  explicit DescriptorRecorder(bool namedCallbacks) : namedCallbacks_(namedCallbacks) {}

  // The setter to hand an entry point, with `this` as its opaque pointer.
  static int Setter(void* opaque, void* target, int property, ...);

  // Answer 1 (refusal) to the call with this 1-based number; 0 refuses none.
  int refuseCall = 0;
  // When false, VLC_MODULE_CREATE succeeds without filling the module pointer, as a host does
  // when it re-runs an entry point to resolve callback names from its plug-in cache.
  bool fillModule = true;

  std::vector<std::string> lines;
  void* open = nullptr;
  void* close = nullptr;
  std::string openName, closeName;
  // Every string and array pointer the entry point handed over (a 3.0 host keeps them).
  std::vector<const void*> pointers;

 private:
  std::string Target(void* target) const;

  bool namedCallbacks_;
  char module_ = 0;
  char config_ = 0;
};

}  // namespace kavo::test
