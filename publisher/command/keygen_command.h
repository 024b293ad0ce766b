#pragma once

#include <string>

// `orn-publish keygen FILE`: writes a new secret key to FILE and prints its public half.
int keygenCommand(const std::string& file);
