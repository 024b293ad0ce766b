#pragma once

#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>

// What one run did, for a player to show support: each request, each
// decision and why the run gave up, in "ORN_Launcher.log" beside the
// launcher, replaced by the next run. Never a reason for the run to fail:
// a folder that cannot hold it leaves the run unlogged.
class RunLog {
public:
    // A fresh install of a game of 10,000 files writes about 3 MiB.
    static constexpr std::size_t limitBytes = 16u << 20;

    // Starts the log anew, replacing the last run's, with the launcher's version.
    bool open(const std::string& fileName);
    // One line, stamped with the seconds since open; server text in it is
    // written as the console shows it, on one line without control characters.
    // Past limitBytes, one last line says the log was cut.
    void line(const std::string& text);
    // Ends the log: the game client must not inherit it open.
    void close();

private:
    std::ofstream file_;
    std::size_t written_ = 0;
    bool cut_ = false;
    std::chrono::steady_clock::time_point start_;
};

// The run's log, once main has opened one: what code deep in the run
// writes its decisions to. Without one, a note goes nowhere.
void useRunLog(RunLog* log);
void noteInRunLog(const std::string& text);
