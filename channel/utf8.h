#pragma once

#include <cstddef>
#include <string>

// The character at `text[at]`, in strict UTF-8 (no overlong forms, surrogates
// or code points past U+10FFFF): its length in bytes, with its code point;
// 0 when the bytes there are not one well-formed character.
std::size_t decodeUtf8(const std::string& text, std::size_t at, char32_t& codePoint);

// Appends the UTF-8 form of a code point.
void encodeUtf8(char32_t codePoint, std::string& out);

// Marks that turn the text around them right to left: shown, what follows
// would not read as it was written.
bool isDirectionMark(char32_t codePoint);
