#pragma once

#include <string>

// Writes `text` to "<name>.orn-partial" and renames it over `name`, so that a
// reader never meets half a file; leaves no temporary file on failure.
bool replaceWithText(const std::string& name, const std::string& text);
