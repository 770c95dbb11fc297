#pragma once
// Whole-file reading for the binary and text readers, which parse from memory.

#include <cstdint>
#include <string>
#include <vector>

// Reads the regular file name into bytes. False when it cannot be opened or
// read, or is not a regular file (a directory opens, but has no real size).
bool readFileBytes(const std::string& name, std::vector<uint8_t>& bytes);

// Writes bytes to a new file beside name and renames it to name when it is
// complete, so that a reader never finds a half-written file under name.
// False, with the reason in error, when the folder cannot take the file.
bool writeFileAtomically(const std::string& name, const std::vector<uint8_t>& bytes, std::string& error);
bool writeFileAtomically(const std::string& name, const std::string& text, std::string& error);

// The same in pieces, for files too large to hold twice in memory: open(),
// append() as often as needed, then commit(). A writer dropped without a
// commit removes its temporary file and leaves name as it was.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::string name) : mName(std::move(name)) {}
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open(std::string& error);
    // Failures are remembered and reported by commit.
    void append(const uint8_t* data, size_t size);
    bool commit(std::string& error);

  private:
    std::string mName;
    std::string mTemporary;
    int mFd = -1;
    int mWriteErrno = 0;
};
