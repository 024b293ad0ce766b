#pragma once

#include <string>

namespace platform {

// Windows only: the wide-character form of a UTF-8 name, as the wide calls
// take it; empty (and EINVAL) when it is not UTF-8.
std::wstring wide(const char* utf8);

}  // namespace platform
