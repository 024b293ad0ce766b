#pragma once

#include <string>

// Text from the web server's files (names, key ids, lines) as the deployer's
// terminal may show it: every byte that is not part of a valid UTF-8
// character, C0 controls, DEL, the C1 controls and the marks that change the
// direction of text as \xNN, byte by byte, so that no escape sequence reaches
// the terminal, in a UTF-8 locale or an 8-bit one, and no name reads reversed.
std::string shownText(const std::string& text);
