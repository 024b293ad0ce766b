#pragma once

#include "launcher/console/uninstall_console.h"
#include "launcher/console/uninstall_text.h"

#include <iostream>

// The player's console during an uninstall: each event one line on standard output.
class TerminalUninstallConsole : public UninstallConsole {
public:
    void fileLeft(const std::string& path) override { show(fileLeftText(path)); }
    void fileNotRemoved(const std::string& path, int cause) override { show(fileNotRemovedText(path, cause)); }
    void uninstallBlocked() override { show(uninstallBlockedText); }
    void uninstallEnded(const UninstallTally& tally) override { show(uninstallEndedText(tally)); }

private:
    static void show(const std::string& text) { std::cout << text << std::endl; }
};
