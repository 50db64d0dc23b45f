// The stand-in DLL's own file, for registration and for the default catalog beside it.
#pragma once

#include <string>

namespace kavo::standin {

std::wstring ThisModulePath();

}  // namespace kavo::standin
