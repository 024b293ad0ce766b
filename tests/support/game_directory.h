#pragma once

// A fresh temporary directory made the current directory for one test: the
// launcher resolves every name it writes, moves or runs against it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class InGameDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int count = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = std::filesystem::temp_directory_path() /
               ("launcher_test." + std::to_string(stamp) + "." + std::to_string(++count));
        std::filesystem::create_directories(root);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root);
    }

    void TearDown() override
    {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    static void write(const std::filesystem::path& name, const std::string& content)
    {
        std::ofstream(name, std::ios::binary) << content;
    }

    static std::string read(const std::filesystem::path& name)
    {
        std::ifstream in(name, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return in ? content.str() : "<missing>";
    }

    std::filesystem::path root, previous;
};
