#include "ToolCommon.h"

#include "GLExtensions.h"
#include "GLHeadlessContext.h"
#include "LogStream.h"
#include "VConfiguration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

// The loader's listing stays out of the output.
bool createDrawingContext(GLHeadlessContext& context) {
    if (!context.create()) {
        std::cerr << "morva: cannot create an OpenGL context: " << context.lastError() << "\n";
        return false;
    }
    std::string listing;
    bool usable = false;
    {
        const LogCapture loader;
        usable = initExtensions() && VConfiguration::init();
        listing = loader.text();
    }
    if (!usable) std::cerr << "morva: the OpenGL driver is not usable:\n" << lastLineOf(listing) << "\n";
    return usable;
}

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool parseVector(const char* text, Vec3f& v) {
    return std::sscanf(text, "%f,%f,%f", &v.x, &v.y, &v.z) == 3 && std::isfinite(v.x + v.y + v.z);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
