#include "FileBytes.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

bool readFileBytes(const std::string& name, std::vector<uint8_t>& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    struct stat info;
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    bytes.resize(size_t(info.st_size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}
