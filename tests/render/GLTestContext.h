#pragma once
// One headless OpenGL context for a whole test program, with the extension
// entry points loaded and shaders read from the source tree.

#include <string>

// What the loader printed while the context was set up.
const std::string& loaderOutput();
