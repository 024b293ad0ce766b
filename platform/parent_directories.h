#pragma once

#include <string>

// Creates the missing directories above a safe manifest path, inside the
// game directory. False when one cannot be made.
bool createParentDirectories(const std::string& path);
