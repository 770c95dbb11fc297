#pragma once
// File and log helpers shared by the tests.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

std::string testDataPath(const std::string& name);
std::string tempPath(const std::string& name); // in a fresh per-process temporary directory
std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Collects what the hierarchy code logs while it lives.
struct CapturedLog {
    CapturedLog();
    ~CapturedLog();
    std::string out() const { return mOut.str(); }
    std::string err() const { return mErr.str(); }
    std::ostringstream mOut, mErr;
};
