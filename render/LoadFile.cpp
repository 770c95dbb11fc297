#include "LoadFile.h"

#include "LogStream.h"

#include <cstring>
#include <fstream>
#include <iterator>

std::unique_ptr<char[]> loadFileIntoCString(const std::string& fileName) {
    std::ifstream in(fileName);
    if (!in) {
        logOut() << "Fehler in loadFileIntoCString !!!!!!!\n";
        return nullptr;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto buffer = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    return buffer;
}
