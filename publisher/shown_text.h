#pragma once

#include <string>

// Text from the web server's files (names, key ids, lines) as the deployer's
// terminal may show it: C0 controls, DEL and the UTF-8 forms of the C1
// controls as \xNN, so that no escape sequence reaches the terminal.
std::string shownText(const std::string& text);
