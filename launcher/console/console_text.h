#pragma once

#include "launcher/console/console.h"

#include <string>

// Text from the server made safe to show on the console, on one line: escape
// sequences (a window title, a cleared screen, a moved cursor), control
// characters and marks that reverse the direction of text are removed, line breaks and tabs become blanks, and bytes
// that are not UTF-8 are dropped. Only what a player can read remains.
std::string printableOnOneLine(const std::string& text);

// The line that tells the player why their proxy (`proxy`: "host:port") let no request through.
std::string proxyFailedText(ProxyFailure failure, const std::string& proxy);
