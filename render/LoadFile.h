#pragma once
// Whole text files as one buffer, for shader sources.

#include <memory>
#include <string>

// The whole file, NUL-terminated; null (with a message on standard output)
// when it cannot be opened.
std::unique_ptr<char[]> loadFileIntoCString(const std::string& fileName);
