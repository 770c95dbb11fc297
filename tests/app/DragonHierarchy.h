#pragma once
// The 48K dragon built as the command-line tool builds it, once per test run.

#include "TestFiles.h"

#include <cstdlib>
#include <string>

inline bool runMorva(const std::string& arguments) {
    const std::string command = std::string("'") + MORVA_TOOL_PATH + "' " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Empty when the build failed.
inline const std::string& dragonHierarchy() {
    static const std::string path = [] {
        const std::string out = tempPath("viewer-dragon.mvh");
        const bool built = runMorva("build '" + std::string(MORVA_DRAGON_DIR) + "/dragon_vrip_res3.ply' '" + out +
                                    "' --patch-size 64 --force");
        return built ? out : std::string();
    }();
    return path;
}
