#include "VObject3D.h"

#include "LogStream.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <limits>

VObject3D::VObject3D(const std::string& fileName) {
    if (!fileName.empty()) importFile(fileName);
}

VObject3D::~VObject3D() = default;

// Gives the memory back too: a mesh of millions of triangles is cleared to
// make room for what is built from it.
void VObject3D::clear() {
    decltype(vertices)().swap(vertices);
    decltype(triangles)().swap(triangles);
    decltype(extra)().swap(extra);
}

namespace {
// The last four characters in lower case; empty for a name no longer than that.
std::string lowerEnding(const std::string& fileName) {
    if (fileName.size() <= 4) return {};
    std::string ending = fileName.substr(fileName.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ending;
}
} // namespace

namespace {
// The mesh formats the importer reads, by the name's ending.
struct MeshFormat {
    const char* ending;
    bool (VObject3D::*read)(const std::string&);
};
constexpr MeshFormat kMeshFormats[] = {
    {".ply", &VObject3D::readPly}, {".3ds", &VObject3D::read3ds}, {".x3d", &VObject3D::readX3D}};

const MeshFormat* formatOf(const std::string& fileName) {
    const std::string ending = lowerEnding(fileName);
    for (const MeshFormat& format : kMeshFormats)
        if (ending == format.ending) return &format;
    return nullptr;
}
} // namespace

bool VObject3D::isImportable(const std::string& fileName) { return formatOf(fileName) != nullptr; }

bool VObject3D::importFile(const std::string& fileName) {
    mLastError.clear();
    const std::string ending = lowerEnding(fileName);
    if (ending.empty()) return failRead("cannot tell the format of " + fileName + " from its name");
    if (const MeshFormat* format = formatOf(fileName)) return (this->*format->read)(fileName);
    return failRead("unsupported file type " + ending + " (supported: .ply, .3ds, .x3d)");
}

bool VObject3D::failRead(const std::string& message) {
    clear();
    mLastError = message;
    return false;
}

Vec3f VObject3D::triangleNormal(uint32_t t, float time) const {
    assert(t < triangles.size() && "t < triangle.size()");
    const VTriangle& tri = triangles[t];
    Vec3d p0(vertices[tri.v[0]]->evaluate(time));
    Vec3d p1(vertices[tri.v[1]]->evaluate(time));
    Vec3d p2(vertices[tri.v[2]]->evaluate(time));
    return Vec3f(normalizeOrZ(cross(p0 - p1, p2 - p1)));
}

AnimationDomain VObject3D::animationDomain() const {
    AnimationDomain d;
    float start = std::numeric_limits<float>::max(), end = -std::numeric_limits<float>::max();
    uint32_t frames = 1;
    for (const auto& v : vertices) {
        if (v->isStatic()) continue;
        const auto& keys = static_cast<const VKeyFrameVertex&>(*v).keys();
        start = std::min(start, keys.front().t);
        end = std::max(end, keys.back().t);
        frames = std::max<uint32_t>(frames, uint32_t(keys.size()));
    }
    if (start == std::numeric_limits<float>::max()) {
        logOut() << "set static object animation domain\n";
        return d;
    }
    d.start = start;
    d.end = end;
    d.keyFrames = uint16_t(std::min<uint32_t>(frames, 65535));
    return d;
}

bool VObject3D::checkVertexPositions() {
    for (size_t i = 0; i < vertices.size(); ++i)
        if (!isUsablePoint(vertices[i]->evaluate(0))) {
            const std::string message = "vertex " + std::to_string(i) + ": " + kBadCoordinateMessage;
            logErr() << message << "\n";
            return failRead(message);
        }
    return true;
}
