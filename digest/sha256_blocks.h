#pragma once

#include <cstddef>
#include <cstdint>

// SHA-256's compression of whole 64-byte blocks into `state` with the x86
// SHA extensions, which hash several times faster than portable code. Only
// call it when shaExtensionsAvailable() says the processor has them.
bool shaExtensionsAvailable();
void sha256BlocksWithShaExtensions(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);
