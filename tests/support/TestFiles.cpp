#include "TestFiles.h"

#include "LogStream.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

std::string testDataPath(const std::string& name) { return std::string(MORVA_TEST_DATA_DIR) + "/" + name; }

std::string tempPath(const std::string& name) {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("morva-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return (dir / name).string();
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

CapturedLog::CapturedLog() {
    setLogOut(&mOut);
    setLogErr(&mErr);
}

CapturedLog::~CapturedLog() {
    setLogOut(nullptr);
    setLogErr(nullptr);
}
