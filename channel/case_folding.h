#pragma once

#include <string>

// The name with every letter in one case, by Unicode's simple case folding
// (one code point for one): names that fold alike are one file on Windows.
// Bytes that are not UTF-8 are kept as they are.
std::string foldedCase(const std::string& utf8);

// ASCII letters in lower case, every other byte as it is: for text that is
// ASCII by its format (header names, hex digests), where folding would
// take look-alike letters for the real ones.
std::string lowerCase(std::string text);
