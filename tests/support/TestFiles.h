#pragma once
// File and log helpers shared by the tests.

#include <cstdint>
#include <filesystem>
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

#ifdef MORVA_DRAGON_DIR
// Why a test that reads the Stanford dragon cannot run here: empty when its
// four resolutions are in data/dragon.
inline std::string dragonMissing() {
    for (const char* mesh : {"dragon_vrip.ply", "dragon_vrip_res2.ply", "dragon_vrip_res3.ply", "dragon_vrip_res4.ply"})
        if (!std::filesystem::exists(std::string(MORVA_DRAGON_DIR) + "/" + mesh))
            return std::string("the Stanford dragon is not in " MORVA_DRAGON_DIR " (scripts/setup.sh fetches it)");
    return {};
}

// First in a test that reads the dragon: skips it, saying why, without the data.
#define MORVA_SKIP_WITHOUT_DRAGON()                                                                                   \
    do {                                                                                                               \
        if (const std::string why = dragonMissing(); !why.empty()) GTEST_SKIP() << why;                              \
    } while (0)
#endif
