#include "FileBytes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

bool readFileBytes(const std::string& name, std::vector<uint8_t>& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    struct stat info;
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    bytes.resize(size_t(info.st_size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

bool writeFileAtomically(const std::string& name, const std::string& text, std::string& error) {
    return writeFileAtomically(name, std::vector<uint8_t>(text.begin(), text.end()), error);
}

bool writeFileAtomically(const std::string& name, const std::vector<uint8_t>& bytes, std::string& error) {
    // The rename would replace a file that nobody may write; writing in place
    // would have been refused, so this is too.
    struct stat existing{};
    if (::stat(name.c_str(), &existing) == 0 && (existing.st_mode & 0222) == 0) {
        error = name + " is read-only";
        return false;
    }
    std::string temporary = name + ".partial-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot create a file beside " + name + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += size_t(n);
    }
    // mkstemp makes the file private; a side file is as readable as the
    // hierarchy beside it.
    ::fchmod(fd, 0644);
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!complete || !closed || std::rename(temporary.c_str(), name.c_str()) != 0) {
        error = "cannot write " + name + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
