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
