// A BSTR received from a COM call, freed when the holder goes. Belongs to one thread at a time.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace kavo {

class Bstr {
 public:
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }

  // For the out parameter of a call; the holder must still be empty.
  BSTR* Receive() { return &value_; }
  BSTR Get() const { return value_; }
  // Up to the first NUL; a null string is empty.
  std::wstring Text() const { return value_ ? std::wstring(value_) : std::wstring(); }
  // Every character the string holds, NULs included; a null string is empty.
  std::wstring FullText() const {
    return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring();
  }

 private:
  BSTR value_ = nullptr;
};

}  // namespace kavo
