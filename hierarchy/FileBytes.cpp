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
    AtomicFileWriter file(name);
    if (!file.open(error)) return false;
    file.append(bytes.data(), bytes.size());
    return file.commit(error);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (mFd < 0) return;
    ::close(mFd);
    std::remove(mTemporary.c_str());
}

bool AtomicFileWriter::open(std::string& error) {
    // The rename would replace a file that nobody may write; writing in place
    // would have been refused, so this is too.
    struct stat existing{};
    if (::stat(mName.c_str(), &existing) == 0 && (existing.st_mode & 0222) == 0) {
        error = mName + " is read-only";
        return false;
    }
    mTemporary = mName + ".partial-XXXXXX";
    mFd = mkstemp(mTemporary.data());
    if (mFd < 0) {
        error = "cannot create a file beside " + mName + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; a side file is as readable as the
    // hierarchy beside it.
    ::fchmod(mFd, 0644);
    return true;
}

void AtomicFileWriter::append(const uint8_t* data, size_t size) {
    size_t written = 0;
    while (mFd >= 0 && mWriteErrno == 0 && written < size) {
        const ssize_t n = ::write(mFd, data + written, size - written);
        if (n <= 0) mWriteErrno = n < 0 ? errno : ENOSPC;
        else written += size_t(n);
    }
}

bool AtomicFileWriter::commit(std::string& error) {
    if (mFd < 0) {
        error = "cannot write " + mName + ": it was never opened";
        return false;
    }
    int failure = mWriteErrno;
    if (failure == 0 && ::fsync(mFd) != 0) failure = errno;
    if (::close(mFd) != 0 && failure == 0) failure = errno;
    mFd = -1;
    if (failure == 0 && std::rename(mTemporary.c_str(), mName.c_str()) != 0) failure = errno;
    if (failure == 0) return true;
    error = "cannot write " + mName + ": " + std::strerror(failure);
    std::remove(mTemporary.c_str());
    return false;
}
