#include "X3DScene.h"

#include "FileBytes.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_map>

namespace {

// --- Number lists ------------------------------------------------------------

// X3D separates the numbers of a field by whitespace, commas or both.
bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
}

// Splits a field into its number tokens and hands each to parse; stops at
// the first token parse refuses and returns that token.
template <typename Parse> std::optional<std::string_view> forEachToken(std::string_view text, Parse parse) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !isSeparator(text[i]))
            ++i;
        if (i == start) break;
        std::string_view token = text.substr(start, i - start);
        if (!parse(token)) return token;
    }
    return std::nullopt;
}

// from_chars takes no leading '+', which XML number fields allow.
std::string_view withoutPlus(std::string_view token) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+') return token.substr(1);
    return token;
}

template <typename T> bool parseToken(std::string_view token, T& value) {
    token = withoutPlus(token);
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, value);
    if (ec != std::errc() || ptr != end) return false;
    if constexpr (std::is_floating_point_v<T>) return std::isfinite(value);
    return true;
}

// A token for a message, cut short so that a huge garbage field stays readable.
std::string quoted(std::string_view token) {
    constexpr size_t kShown = 24;
    std::string out = "\"";
    out.append(token.substr(0, kShown));
    if (token.size() > kShown) out += "...";
    out += '"';
    return out;
}

template <typename T> bool parseNumbers(std::string_view text, std::vector<T>& out, std::string& error) {
    out.clear();
    auto bad = forEachToken(text, [&](std::string_view token) {
        T value{};
        if (!parseToken(token, value)) return false;
        out.push_back(value);
        return true;
    });
    if (!bad) return true;
    error =
        quoted(*bad) + (std::is_floating_point_v<T> ? " is not a finite number" : " is not a 32-bit integer");
    return false;
}

// --- Locations ---------------------------------------------------------------

// "line L" for a byte offset into UTF-8 text; empty when it cannot be told.
std::string lineOf(std::string_view text, std::ptrdiff_t offset, bool utf8) {
    if (!utf8 || offset < 0 || size_t(offset) > text.size()) return {};
    auto line = 1 + std::count(text.begin(), text.begin() + offset, '\n');
    return "line " + std::to_string(line);
}

// --- Scene building ----------------------------------------------------------

struct DefEntry {
    const X3DNode* node;
    int height; // deepest nesting below and including the node, USE followed
};

class SceneBuilder {
  public:
    SceneBuilder(std::string_view text, bool utf8) : mText(text), mUtf8(utf8) {}

    // Builds the node of an element and everything below it; null with
    // error() set when the subtree cannot be built.
    std::unique_ptr<X3DNode> build(const pugi::xml_node& element, int depth, int& height);
    const std::string& error() const { return mError; }

  private:
    bool fail(const pugi::xml_node& element, const std::string& message);
    bool resolveUse(const pugi::xml_node& element, X3DNode& node, int& height);
    bool readFields(const pugi::xml_node& element, X3DNode& node);
    bool readVector(const pugi::xml_node& element, const char* name, Vec3d& out);
    bool readRotation(const pugi::xml_node& element, const char* name, X3DRotation& out);
    bool readPoints(const pugi::xml_node& element, std::vector<Vec3d>& out);
    bool readIndices(const pugi::xml_node& element, const char* name, std::vector<int32_t>& out);
    bool readBool(const pugi::xml_node& element, const char* name, bool& out);

    std::string_view mText;
    bool mUtf8;
    std::unordered_map<std::string, DefEntry> mDefs;
    std::string mError;
};

bool SceneBuilder::fail(const pugi::xml_node& element, const std::string& message) {
    std::string where = lineOf(mText, element.offset_debug(), mUtf8);
    mError = (where.empty() ? "" : where + ": ") + element.name() + ": " + message;
    return false;
}

std::unique_ptr<X3DNode> SceneBuilder::build(const pugi::xml_node& element, int depth, int& height) {
    if (depth > kX3DMaxDepth) {
        fail(element, "elements nested deeper than " + std::to_string(kX3DMaxDepth));
        return nullptr;
    }
    auto node = std::make_unique<X3DNode>();
    node->type = element.name();
    node->def = element.attribute("DEF").value();
    if (element.attribute("USE")) {
        if (!resolveUse(element, *node, height)) return nullptr;
        return node;
    }
    if (!readFields(element, *node)) return nullptr;

    height = 1;
    for (const pugi::xml_node& child : element.children()) {
        if (child.type() != pugi::node_element) continue;
        int childHeight = 0;
        auto childNode = build(child, depth + 1, childHeight);
        if (!childNode) return nullptr;
        node->children.push_back(std::move(childNode));
        height = std::max(height, childHeight + 1);
    }
    if (height > kX3DMaxDepth) {
        fail(element, "nesting with USE references followed is deeper than " + std::to_string(kX3DMaxDepth));
        return nullptr;
    }
    // Registered only once finished, so that a USE inside the node cannot
    // refer to it: references then never form a cycle.
    if (!node->def.empty()) mDefs[node->def] = {node.get(), height};
    return node;
}

bool SceneBuilder::resolveUse(const pugi::xml_node& element, X3DNode& node, int& height) {
    std::string name = element.attribute("USE").value();
    if (!node.def.empty()) return fail(element, "has both DEF and USE");
    auto it = mDefs.find(name);
    if (it == mDefs.end()) return fail(element, "USE \"" + name + "\" names no earlier, finished DEF");
    if (it->second.node->type != node.type)
        return fail(element, "USE \"" + name + "\" names a " + it->second.node->type);
    node.use = it->second.node;
    height = it->second.height;
    return true;
}

bool SceneBuilder::readFields(const pugi::xml_node& element, X3DNode& node) {
    const std::string& t = node.type;
    if (t == "Transform") {
        return readVector(element, "translation", node.translation) &&
               readVector(element, "center", node.center) && readVector(element, "scale", node.scale) &&
               readRotation(element, "rotation", node.rotation) &&
               readRotation(element, "scaleOrientation", node.scaleOrientation);
    }
    if (t == "Coordinate" || t == "CoordinateDouble") return readPoints(element, node.points);
    if (t == "IndexedFaceSet")
        return readIndices(element, "coordIndex", node.indices) && readBool(element, "ccw", node.ccw);
    if (t == "IndexedTriangleSet")
        return readIndices(element, "index", node.indices) && readBool(element, "ccw", node.ccw);
    if (t == "Switch") {
        std::vector<int32_t> choice;
        if (!readIndices(element, "whichChoice", choice)) return false;
        if (choice.size() > 1)
            return fail(element, "whichChoice needs one number, has " + std::to_string(choice.size()));
        if (!choice.empty()) node.whichChoice = choice[0];
    }
    return true;
}

bool SceneBuilder::readVector(const pugi::xml_node& element, const char* name, Vec3d& out) {
    pugi::xml_attribute a = element.attribute(name);
    if (!a) return true;
    std::vector<double> v;
    std::string error;
    if (!parseNumbers(a.value(), v, error)) return fail(element, std::string(name) + ": " + error);
    if (v.size() != 3)
        return fail(element, std::string(name) + " needs 3 numbers, has " + std::to_string(v.size()));
    out = {v[0], v[1], v[2]};
    return true;
}

bool SceneBuilder::readRotation(const pugi::xml_node& element, const char* name, X3DRotation& out) {
    pugi::xml_attribute a = element.attribute(name);
    if (!a) return true;
    std::vector<double> v;
    std::string error;
    if (!parseNumbers(a.value(), v, error)) return fail(element, std::string(name) + ": " + error);
    if (v.size() != 4)
        return fail(element, std::string(name) + " needs 4 numbers, has " + std::to_string(v.size()));
    out = {{v[0], v[1], v[2]}, v[3]};
    return true;
}

bool SceneBuilder::readPoints(const pugi::xml_node& element, std::vector<Vec3d>& out) {
    std::vector<double> v;
    std::string error;
    if (!parseNumbers(element.attribute("point").value(), v, error)) return fail(element, "point: " + error);
    if (v.size() % 3 != 0)
        return fail(element, "point has " + std::to_string(v.size()) + " numbers, not a multiple of 3");
    out.reserve(v.size() / 3);
    for (size_t i = 0; i < v.size(); i += 3)
        out.push_back({v[i], v[i + 1], v[i + 2]});
    return true;
}

bool SceneBuilder::readIndices(const pugi::xml_node& element, const char* name, std::vector<int32_t>& out) {
    std::string error;
    if (!parseNumbers(element.attribute(name).value(), out, error))
        return fail(element, std::string(name) + ": " + error);
    return true;
}

bool SceneBuilder::readBool(const pugi::xml_node& element, const char* name, bool& out) {
    pugi::xml_attribute a = element.attribute(name);
    if (!a) return true;
    // The classic encoding's capitals turn up in converted files.
    std::string_view v = a.value();
    if (v == "true" || v == "TRUE")
        out = true;
    else if (v == "false" || v == "FALSE")
        out = false;
    else
        return fail(element, std::string(name) + ": \"" + a.value() + "\" is neither true nor false");
    return true;
}

// --- Walking -----------------------------------------------------------------

void visitBelow(const X3DNode& node, const std::function<void(const X3DNode&)>& visit) {
    for (const auto& child : node.children) {
        visitBelow(*child, visit);
        visit(*child);
    }
}

} // namespace

std::unique_ptr<X3DScene> loadX3DScene(const std::string& fileName, std::string& error) {
    error.clear();
    std::vector<uint8_t> bytes;
    if (!readFileBytes(fileName, bytes)) {
        error = fileName + ": cannot open for reading";
        return nullptr;
    }
    std::unique_ptr<X3DScene> scene = loadX3DSceneData(bytes, error);
    if (!scene) error = fileName + ": " + error;
    return scene;
}

std::unique_ptr<X3DScene> loadX3DSceneData(const std::vector<uint8_t>& bytes, std::string& error) {
    error.clear();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    bool utf8 = parsed.encoding == pugi::encoding_utf8;
    if (!parsed) {
        std::string where = lineOf(text, parsed.offset, utf8);
        error = std::string("not well-formed XML: ") + parsed.description() + " at byte offset " +
                std::to_string(parsed.offset) + (where.empty() ? "" : " (" + where + ")");
        return nullptr;
    }
    pugi::xml_node x3d = doc.document_element();
    if (std::strcmp(x3d.name(), "X3D") != 0) {
        error = std::string("not an X3D file: the root element is <") + x3d.name() + ">, not <X3D>";
        return nullptr;
    }
    pugi::xml_node sceneElement = x3d.child("Scene");
    if (!sceneElement) {
        error = "X3D file without a <Scene> element";
        return nullptr;
    }

    SceneBuilder builder(text, utf8);
    int height = 0;
    auto scene = std::make_unique<X3DScene>();
    scene->root = builder.build(sceneElement, 0, height);
    if (!scene->root) {
        error = builder.error();
        return nullptr;
    }
    return scene;
}

void forEachX3DNode(const X3DScene& scene, const std::function<void(const X3DNode&)>& visit) {
    if (scene.root) visitBelow(*scene.root, visit);
}

// --- Mesh collection ---------------------------------------------------------

namespace {

const X3DNode& resolved(const X3DNode& node) {
    return node.use ? *node.use : node;
}

bool isMetadata(const X3DNode& node) {
    return resolved(node).type.starts_with("Metadata");
}
bool isFaceSet(const X3DNode& node) {
    return node.type == "IndexedFaceSet" || node.type == "IndexedTriangleSet";
}

// The children that contribute geometry: one level of an LOD, the chosen
// child of a Switch, all children of any other node. Metadata does not count
// as a level or a choice.
std::vector<const X3DNode*> contributingChildren(const X3DNode& node) {
    std::vector<const X3DNode*> out;
    if (node.type == "ProtoDeclare" || node.type == "ExternProtoDeclare") return out;
    for (const auto& child : node.children)
        if (!isMetadata(*child)) out.push_back(child.get());
    if (node.type == "LOD") out.resize(std::min<size_t>(out.size(), 1));
    if (node.type == "Switch") {
        if (node.whichChoice < 0 || size_t(node.whichChoice) >= out.size()) return {};
        return {out[size_t(node.whichChoice)]};
    }
    return out;
}

const X3DNode* coordinateOf(const X3DNode& set) {
    for (const auto& child : set.children) {
        const X3DNode& c = resolved(*child);
        if (c.type == "Coordinate" || c.type == "CoordinateDouble") return &c;
    }
    return nullptr;
}

// Hands each triangle of a face or triangle set to emit, in its own winding;
// returns how many faces were skipped.
template <typename Emit> uint64_t forEachSetTriangle(const X3DNode& set, size_t pointCount, Emit emit) {
    const std::vector<int32_t>& idx = set.indices;
    auto inRange = [&](size_t from, size_t to) {
        return std::all_of(idx.begin() + ptrdiff_t(from), idx.begin() + ptrdiff_t(to),
                           [&](int32_t i) { return i >= 0 && size_t(i) < pointCount; });
    };
    uint64_t skipped = 0;
    if (set.type == "IndexedTriangleSet") {
        size_t full = idx.size() / 3 * 3;
        for (size_t i = 0; i < full; i += 3) {
            if (inRange(i, i + 3))
                emit(uint32_t(idx[i]), uint32_t(idx[i + 1]), uint32_t(idx[i + 2]));
            else
                ++skipped;
        }
        return skipped + (full != idx.size() ? 1 : 0);
    }
    size_t start = 0;
    for (size_t i = 0; i <= idx.size(); ++i) {
        if (i < idx.size() && idx[i] != -1) continue;
        // Empty runs (a closing -1 after the last polygon, doubled -1) are not polygons.
        size_t corners = i - start;
        if (corners > 0 && (corners < 3 || !inRange(start, i)))
            ++skipped;
        else if (corners > 0)
            for (size_t k = start + 1; k + 1 < i; ++k)
                emit(uint32_t(idx[start]), uint32_t(idx[k]), uint32_t(idx[k + 1]));
        start = i + 1;
    }
    return skipped;
}

// Row-major 3x4 affine map, applied to column vectors.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    Affine operator*(const Affine& b) const {
        Affine r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j)
                r.m[i][j] =
                    m[i][0] * b.m[0][j] + m[i][1] * b.m[1][j] + m[i][2] * b.m[2][j] + (j == 3 ? m[i][3] : 0);
        return r;
    }
    Vec3d apply(const Vec3d& p) const {
        return {m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
                m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
                m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]};
    }
    double determinant() const {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    }
};

Affine translationMap(const Vec3d& t) {
    Affine a;
    a.m[0][3] = t.x;
    a.m[1][3] = t.y;
    a.m[2][3] = t.z;
    return a;
}

Affine scaleMap(const Vec3d& s) {
    Affine a;
    a.m[0][0] = s.x;
    a.m[1][1] = s.y;
    a.m[2][2] = s.z;
    return a;
}

// Rodrigues' formula; a zero axis has no direction and leaves points alone.
Affine rotationMap(const Vec3d& axis, double angle) {
    Affine a;
    double len = length(axis);
    if (!(len > 0)) return a;
    Vec3d u = axis / len;
    double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    a.m[0][0] = t * u.x * u.x + c;
    a.m[0][1] = t * u.x * u.y - s * u.z;
    a.m[0][2] = t * u.x * u.z + s * u.y;
    a.m[1][0] = t * u.x * u.y + s * u.z;
    a.m[1][1] = t * u.y * u.y + c;
    a.m[1][2] = t * u.y * u.z - s * u.x;
    a.m[2][0] = t * u.x * u.z - s * u.y;
    a.m[2][1] = t * u.y * u.z + s * u.x;
    a.m[2][2] = t * u.z * u.z + c;
    return a;
}

// P' = T * C * R * SR * S * -SR * -C * P, the order X3D defines for Transform.
Affine transformMap(const X3DNode& t) {
    const X3DRotation& so = t.scaleOrientation;
    return translationMap(t.translation) * translationMap(t.center) *
           rotationMap(t.rotation.axis, t.rotation.angle) * rotationMap(so.axis, so.angle) *
           scaleMap(t.scale) * rotationMap(so.axis, -so.angle) * translationMap(-t.center);
}

struct MeshSize {
    uint64_t points = 0, triangles = 0;
    uint64_t steps = 0; // what collecting it takes, as X3DLimits counts them
};

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// Exact size of what collection will produce below a node, memoised per node
// so that a chain of USEs costs one visit per node rather than one per instance.
class MeshSizer {
  public:
    MeshSize sizeOf(const X3DNode& node) {
        const X3DNode& n = resolved(node);
        if (auto it = mMemo.find(&n); it != mMemo.end()) return it->second;
        MeshSize size;
        size.steps = 1 + n.children.size();
        if (isFaceSet(n)) {
            if (const X3DNode* coord = coordinateOf(n)) {
                size.points = coord->points.size();
                size.steps += n.indices.size();
                forEachSetTriangle(n, coord->points.size(),
                                   [&](uint32_t, uint32_t, uint32_t) { ++size.triangles; });
            }
        } else {
            for (const X3DNode* child : contributingChildren(n)) {
                MeshSize s = sizeOf(*child);
                size.points = saturatingAdd(size.points, s.points);
                size.triangles = saturatingAdd(size.triangles, s.triangles);
                size.steps = saturatingAdd(size.steps, s.steps);
            }
        }
        mMemo[&n] = size;
        return size;
    }

  private:
    std::unordered_map<const X3DNode*, MeshSize> mMemo;
};

class MeshCollector {
  public:
    MeshCollector(X3DMesh& mesh, X3DMeshReport& report) : mMesh(mesh), mReport(report) {}

    void collect(const X3DNode& node, const Affine& world);
    // Set when a transformed point left the range of float.
    bool pointOutOfRange() const { return mPointOutOfRange; }

  private:
    void countUnsupported(const X3DNode& shape);
    void collectSet(const X3DNode& set, const Affine& world);

    X3DMesh& mMesh;
    X3DMeshReport& mReport;
    bool mPointOutOfRange = false;
};

void MeshCollector::collect(const X3DNode& node, const Affine& world) {
    const X3DNode& n = resolved(node);
    if (isFaceSet(n)) {
        collectSet(n, world);
        return;
    }
    if (n.type == "Shape") countUnsupported(n);
    Affine inner = n.type == "Transform" ? world * transformMap(n) : world;
    for (const X3DNode* child : contributingChildren(n))
        collect(*child, inner);
}

void MeshCollector::countUnsupported(const X3DNode& shape) {
    for (const auto& child : shape.children) {
        const X3DNode& c = resolved(*child);
        if (!isFaceSet(c) && c.type != "Appearance" && !isMetadata(c)) ++mReport.unsupportedGeometry[c.type];
    }
}

void MeshCollector::collectSet(const X3DNode& set, const Affine& world) {
    const X3DNode* coord = coordinateOf(set);
    if (!coord) {
        ++mReport.setsWithoutCoordinates;
        return;
    }
    auto base = uint32_t(mMesh.points.size());
    for (const Vec3d& p : coord->points) {
        Vec3f q(world.apply(p));
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) mPointOutOfRange = true;
        mMesh.points.push_back(q);
    }
    // A mirroring transform turns the winding as seen from outside.
    bool turn = set.ccw != (world.determinant() >= 0);
    mReport.skippedFaces +=
        forEachSetTriangle(set, coord->points.size(), [&](uint32_t a, uint32_t b, uint32_t c) {
            if (turn) std::swap(b, c);
            mMesh.triangles.push_back({base + a, base + b, base + c});
        });
}

} // namespace

bool collectX3DMesh(const X3DScene& scene, X3DMesh& mesh, X3DMeshReport& report, std::string& error,
                    const X3DLimits& limits) {
    mesh = {};
    report = {};
    error.clear();
    if (!scene.root) return true;

    // Size first: USE can multiply a small file into more than memory holds,
    // or into a walk that never ends.
    const uint64_t maxElements = std::min<uint64_t>(limits.elements, std::numeric_limits<uint32_t>::max());
    MeshSize size = MeshSizer().sizeOf(*scene.root);
    if (size.points > maxElements || size.triangles > maxElements) {
        error = "the scene instances " + std::to_string(size.points) + " points and " +
                std::to_string(size.triangles) + " triangles, more than the limit of " +
                std::to_string(maxElements);
        return false;
    }
    if (size.steps > limits.steps) {
        error = "collecting the scene takes " + std::to_string(size.steps) +
                " steps (nodes reached through its USEs, and indices read), more than the limit of " +
                std::to_string(limits.steps);
        return false;
    }
    mesh.points.reserve(size.points);
    mesh.triangles.reserve(size.triangles);

    MeshCollector collector(mesh, report);
    collector.collect(*scene.root, Affine());
    if (collector.pointOutOfRange()) {
        mesh = {};
        error = "a transformed point lies outside the range of float";
        return false;
    }
    return true;
}
