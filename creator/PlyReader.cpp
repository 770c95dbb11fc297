// PLY reader: ASCII and binary (either byte order), a vertex element whose
// first three properties are x, y, z (float or double) followed by extra
// properties of any scalar type, and then faces (a list of any integer types,
// polygons fan-triangulated) or triangle strips.

#include "FileBytes.h"
#include "LogStream.h"
#include "VObject3D.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>


namespace {
enum class PlyFormat { Ascii, BinaryLittleEndian, BinaryBigEndian };

struct PlyScalar {
    uint8_t size = 0;
    bool isFloat = false;
    bool isSigned = false;
};

std::optional<PlyScalar> plyScalar(std::string_view name) {
    struct Entry {
        const char* name;
        PlyScalar type;
    };
    static const Entry kTypes[] = {
        {"char", {1, false, true}},    {"int8", {1, false, true}},     {"uchar", {1, false, false}},
        {"uint8", {1, false, false}},  {"short", {2, false, true}},    {"int16", {2, false, true}},
        {"ushort", {2, false, false}}, {"uint16", {2, false, false}},  {"int", {4, false, true}},
        {"int32", {4, false, true}},   {"uint", {4, false, false}},    {"uint32", {4, false, false}},
        {"float", {4, true, true}},    {"float32", {4, true, true}},   {"double", {8, true, true}},
        {"float64", {8, true, true}},
    };
    for (const Entry& e : kTypes)
        if (name == e.name) return e.type;
    return std::nullopt;
}

bool startsWithNoCase(std::string_view line, std::string_view literal) {
    if (line.size() < literal.size()) return false;
    for (size_t i = 0; i < literal.size(); ++i)
        if (std::tolower((unsigned char)line[i]) != std::tolower((unsigned char)literal[i])) return false;
    return true;
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace((unsigned char)line[i])) ++i;
        size_t start = i;
        while (i < line.size() && !std::isspace((unsigned char)line[i])) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// A non-negative count as "%d" reads it; nullopt for anything else.
std::optional<uint32_t> parseCount(std::string_view token) {
    int64_t value = 0;
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc() || end != token.data() + token.size() || value < 0 || value > INT32_MAX) return std::nullopt;
    return uint32_t(value);
}

class PlyReader {
  public:
    PlyReader(VObject3D& mesh, std::vector<uint8_t> bytes) : mMesh(mesh), mBytes(std::move(bytes)) {}

    // On failure returns false with the reason in error. consumed says how
    // far the data went (trailing whitespace of ASCII files included), line
    // which header or ASCII line was read last.
    bool read(std::string& error, size_t& consumed, uint32_t& line);

  private:
    struct FaceList {
        PlyScalar countType, indexType;
    };

    bool readHeader(std::string& error);
    bool readVertices(std::string& error);
    bool readFaces(std::string& error);
    bool readStrips(std::string& error);
    bool nextLine(std::string_view& line);
    bool fail(std::string& error, const std::string& message);

    // Binary fields.
    bool readScalar(const PlyScalar& type, double& value);
    template <typename T> bool readRaw(T& value);
    // ASCII fields.
    bool readAsciiFloat(float& value);
    bool readAsciiInt(int64_t& value);
    void skipRestOfLine();
    void skipSpaces();
    bool addTriangle(int64_t a, int64_t b, int64_t c, std::string& error, uint32_t face);

    VObject3D& mMesh;
    std::vector<uint8_t> mBytes;
    size_t mPos = 0;
    uint32_t mLine = 0;
    PlyFormat mFormat = PlyFormat::Ascii;
    uint32_t mVertexCount = 0, mFaceCount = 0;
    bool mDoublePosition[3] = {false, false, false};
    uint32_t mExtraBytes = 0;
    std::optional<FaceList> mFaces;
    bool mStrips = false;
};

bool PlyReader::fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

bool PlyReader::nextLine(std::string_view& line) {
    if (mPos >= mBytes.size()) return false;
    const char* start = reinterpret_cast<const char*>(mBytes.data()) + mPos;
    const void* nl = std::memchr(start, '\n', mBytes.size() - mPos);
    size_t length = nl ? size_t(static_cast<const char*>(nl) - start) : mBytes.size() - mPos;
    mPos += length + (nl ? 1 : 0);
    line = std::string_view(start, length);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++mLine;
    return true;
}

bool PlyReader::read(std::string& error, size_t& consumed, uint32_t& line) {
    bool ok = readHeader(error) && readVertices(error) && (!mFaces || readFaces(error)) &&
              (!mStrips || readStrips(error));
    if (ok) logOut() << "Done.\n";
    if (mFormat == PlyFormat::Ascii)
        while (mPos < mBytes.size() && std::isspace(mBytes[mPos])) ++mPos;
    consumed = mPos;
    line = mLine;
    return ok;
}

bool PlyReader::readHeader(std::string& error) {
    std::string_view line;
    if (!nextLine(line) || !startsWithNoCase(line, "ply")) return fail(error, "Not a ply file.");
    if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
    if (startsWithNoCase(line, "format binary_big_endian 1.0"))
        mFormat = PlyFormat::BinaryBigEndian;
    else if (startsWithNoCase(line, "format binary_little_endian 1.0"))
        mFormat = PlyFormat::BinaryLittleEndian;

    // Comments come before the vertex element; some writers leave out the
    // keyword and put bare text there, so every line that does not start with
    // a header keyword is skipped too.
    auto isKeywordLine = [](std::string_view l) {
        return startsWithNoCase(l, "element") || startsWithNoCase(l, "property") || startsWithNoCase(l, "end_header") ||
               startsWithNoCase(l, "format");
    };
    do {
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
    } while (!isKeywordLine(line));
    logOut() << "Endian: " << (mFormat == PlyFormat::BinaryLittleEndian ? "little endian" : "big endian") << "\n";

    std::vector<std::string_view> t = tokens(line);
    std::optional<uint32_t> count;
    if (t.size() < 3 || t[0] != "element" || t[1] != "vertex" || !(count = parseCount(t[2])))
        return fail(error, "Expected \"element vertex\"");
    mVertexCount = *count;

    const char* axes[3] = {"x", "y", "z"};
    for (int axis = 0; axis < 3; ++axis) {
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
        t = tokens(line);
        std::optional<PlyScalar> type;
        if (t.size() < 3 || !startsWithNoCase(t[0], "property") || !(type = plyScalar(t[1])) || !type->isFloat ||
            t[2] != axes[axis])
            return fail(error, std::string("Expected \"property float ") + axes[axis] + "\"");
        mDoublePosition[axis] = type->size == 8;
    }

    for (;;) {
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
        if (!startsWithNoCase(line, "property")) break;
        t = tokens(line);
        std::optional<PlyScalar> type;
        if (t.size() < 3 || !(type = plyScalar(t[1]))) return fail(error, "Unsupported vertex property: " + std::string(line));
        mExtraBytes += type->size;
    }
    logOut() << "other prop len: " << mExtraBytes << "\n";

    t = tokens(line);
    if (t.size() >= 3 && t[0] == "element" && t[1] == "face" && (count = parseCount(t[2]))) {
        mFaceCount = *count;
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
        t = tokens(line);
        std::optional<PlyScalar> countType, indexType;
        if (t.size() < 5 || !startsWithNoCase(t[0], "property") || t[1] != "list" || !(countType = plyScalar(t[2])) ||
            !(indexType = plyScalar(t[3])) || countType->isFloat || indexType->isFloat ||
            (t[4] != "vertex_indices" && t[4] != "vertex_index"))
            return fail(error, "Expected \"property list uchar int vertex_indices\"");
        mFaces = FaceList{*countType, *indexType};
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
    } else if (startsWithNoCase(line, "element tristrips 1")) {
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
        t = tokens(line);
        auto isInt32 = [](std::string_view s) { return s == "int" || s == "int32"; };
        if (t.size() < 5 || !startsWithNoCase(t[0], "property") || t[1] != "list" || !isInt32(t[2]) || !isInt32(t[3]) ||
            t[4] != "vertex_indices")
            return fail(error, "Expected \"property list int int vertex_indices\"");
        mStrips = true;
        if (!nextLine(line)) return fail(error, "unexpected end of file in the header");
    }
    if (!startsWithNoCase(line, "end_header")) return fail(error, "Expected \"end_header\"");
    return true;
}

template <typename T> bool PlyReader::readRaw(T& value) {
    if (mBytes.size() - mPos < sizeof(T)) return false;
    std::memcpy(&value, mBytes.data() + mPos, sizeof(T));
    mPos += sizeof(T);
    if ((mFormat == PlyFormat::BinaryBigEndian) != (std::endian::native == std::endian::big)) {
        auto* b = reinterpret_cast<uint8_t*>(&value);
        std::reverse(b, b + sizeof(T));
    }
    return true;
}

bool PlyReader::readScalar(const PlyScalar& type, double& value) {
    switch (type.size) {
    case 1: {
        uint8_t v;
        if (!readRaw(v)) return false;
        value = type.isSigned ? double(int8_t(v)) : double(v);
        return true;
    }
    case 2: {
        uint16_t v;
        if (!readRaw(v)) return false;
        value = type.isSigned ? double(int16_t(v)) : double(v);
        return true;
    }
    case 4: {
        uint32_t v;
        if (!readRaw(v)) return false;
        if (type.isFloat)
            value = double(std::bit_cast<float>(v));
        else
            value = type.isSigned ? double(int32_t(v)) : double(v);
        return true;
    }
    default: {
        uint64_t v;
        if (!readRaw(v)) return false;
        value = std::bit_cast<double>(v);
        return true;
    }
    }
}

void PlyReader::skipSpaces() {
    while (mPos < mBytes.size() && (mBytes[mPos] == ' ' || mBytes[mPos] == '\t' || mBytes[mPos] == '\r')) ++mPos;
}

void PlyReader::skipRestOfLine() {
    const void* nl = std::memchr(mBytes.data() + mPos, '\n', mBytes.size() - mPos);
    mPos = nl ? size_t(static_cast<const uint8_t*>(nl) - mBytes.data()) + 1 : mBytes.size();
    ++mLine;
}

// As "%f" reads it: optional sign, decimal or hexadecimal, inf and nan.
bool PlyReader::readAsciiFloat(float& value) {
    skipSpaces();
    const char* p = reinterpret_cast<const char*>(mBytes.data()) + mPos;
    const char* end = reinterpret_cast<const char*>(mBytes.data()) + mBytes.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    auto format = std::chars_format::general;
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        format = std::chars_format::hex;
    }
    auto [next, ec] = std::from_chars(p, end, value, format);
    if (ec == std::errc::result_out_of_range) {
        // Like strtof: overflow gives infinity, underflow zero.
        value = 0;
        std::from_chars_result r = std::from_chars(p, end, value, format);
        next = r.ptr;
    } else if (ec != std::errc()) {
        return false;
    }
    if (negative) value = -value;
    mPos = size_t(next - reinterpret_cast<const char*>(mBytes.data()));
    return true;
}

// As "%i" reads it: optional sign, then hexadecimal (0x), octal (leading 0)
// or decimal.
bool PlyReader::readAsciiInt(int64_t& value) {
    skipSpaces();
    const char* p = reinterpret_cast<const char*>(mBytes.data()) + mPos;
    const char* end = reinterpret_cast<const char*>(mBytes.data()) + mBytes.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int base = 10;
    if (end - p > 1 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        base = 16;
    } else if (end - p > 1 && p[0] == '0' && p[1] >= '0' && p[1] <= '7') {
        base = 8;
    }
    uint64_t magnitude = 0;
    auto [next, ec] = std::from_chars(p, end, magnitude, base);
    if (ec != std::errc() || magnitude > uint64_t(INT64_MAX)) return false;
    value = negative ? -int64_t(magnitude) : int64_t(magnitude);
    mPos = size_t(next - reinterpret_cast<const char*>(mBytes.data()));
    return true;
}

bool PlyReader::addTriangle(int64_t a, int64_t b, int64_t c, std::string& error, uint32_t face) {
    for (int64_t i : {a, b, c})
        if (i < 0 || i >= int64_t(mVertexCount))
            return fail(error, "face " + std::to_string(face) + ": vertex index " + std::to_string(i) +
                                   " out of range (" + std::to_string(mVertexCount) + " vertices)");
    VTriangle t;
    t.v[0] = uint32_t(a);
    t.v[1] = uint32_t(b);
    t.v[2] = uint32_t(c);
    mMesh.triangles.push_back(t);
    return true;
}

bool PlyReader::readVertices(std::string& error) {
    const bool binary = mFormat != PlyFormat::Ascii;
    // Every record needs at least this many bytes, so no count can make us
    // allocate more than the file could hold.
    uint64_t vertexBytes = binary ? mExtraBytes : 2;
    if (binary)
        for (bool isDouble : mDoublePosition) vertexBytes += isDouble ? 8 : 4;
    const uint64_t faceBytes = !mFaces ? 0 : binary ? mFaces->countType.size : 2;
    const uint64_t needed = uint64_t(mVertexCount) * vertexBytes + uint64_t(mFaceCount) * faceBytes;
    if (needed > mBytes.size() - mPos)
        return fail(error, "the header announces " + std::to_string(mVertexCount) + " vertices and " +
                               std::to_string(mFaceCount) + " faces, more than the file's " +
                               std::to_string(mBytes.size() - mPos) + " bytes of data can hold");

    logOut() << "is binary: " << (binary ? "yes" : "no") << "\n Reading " << mVertexCount << " vertices... ";
    mMesh.vertices.reserve(mVertexCount);
    for (uint32_t i = 0; i < mVertexCount; ++i) {
        float c[3];
        if (binary) {
            for (int axis = 0; axis < 3; ++axis) {
                double value;
                if (!readScalar(mDoublePosition[axis] ? PlyScalar{8, true, true} : PlyScalar{4, true, true}, value))
                    return fail(error, "unexpected end of file in vertex " + std::to_string(i));
                c[axis] = float(value);
            }
            if (mBytes.size() - mPos < mExtraBytes) return fail(error, "unexpected end of file in vertex " + std::to_string(i));
            mPos += mExtraBytes;
        } else {
            for (float& value : c)
                if (!readAsciiFloat(value)) return fail(error, "vertex " + std::to_string(i) + ": expected three numbers");
            skipRestOfLine();
        }
        mMesh.vertices.push_back(std::make_unique<VStaticVertex>(Vec3f(c[0], c[1], c[2])));
    }
    logOut() << "Done.\n";
    return true;
}

bool PlyReader::readFaces(std::string& error) {
    const bool binary = mFormat != PlyFormat::Ascii;
    logOut() << " Reading " << mFaceCount << " faces... ";
    mMesh.triangles.reserve(mFaceCount);
    bool reportedPolygon = false;
    std::vector<int64_t> corners;
    for (uint32_t f = 0; f < mFaceCount; ++f) {
        int64_t count = 0;
        if (binary) {
            double value;
            if (!readScalar(mFaces->countType, value)) return fail(error, "unexpected end of file in face " + std::to_string(f));
            count = int64_t(value);
        } else if (!readAsciiInt(count)) {
            return fail(error, "face " + std::to_string(f) + ": expected a corner count");
        }
        if (count < 0) return fail(error, "face " + std::to_string(f) + ": negative corner count");
        if (count != 3 && !reportedPolygon) {
            logErr() << "Non-triangle found in mesh (" << count << " vertices).\n";
            reportedPolygon = true;
        }
        corners.clear();
        for (int64_t k = 0; k < count; ++k) {
            int64_t index;
            if (binary) {
                double value;
                if (!readScalar(mFaces->indexType, value))
                    return fail(error, "unexpected end of file in face " + std::to_string(f));
                index = int64_t(value);
            } else if (!readAsciiInt(index)) {
                return fail(error, "face " + std::to_string(f) + ": expected " + std::to_string(count) + " vertex indices");
            }
            corners.push_back(index);
        }
        if (!binary) skipRestOfLine();
        // Polygons become fans around their first corner; fewer than three
        // corners make no triangle.
        for (size_t k = 2; k < corners.size(); ++k)
            if (!addTriangle(corners[0], corners[k - 1], corners[k], error, f)) return false;
    }
    logOut() << "Done.\n";
    return true;
}

bool PlyReader::readStrips(std::string& error) {
    logOut() << " Reading triangle strips... ";
    int32_t length = 0;
    if (!readRaw(length)) return fail(error, "unexpected end of file in the triangle strips");
    logOut() << "tstrip data len: " << length << "\n";
    if (length < 0 || uint64_t(length) * 4 > mBytes.size() - mPos)
        return fail(error, "the triangle strips announce " + std::to_string(length) + " indices, more than the file holds");
    std::vector<int32_t> strip(static_cast<size_t>(length));
    for (int32_t& i : strip) readRaw(i);
    if (length < 3 || strip[0] == -1 || strip[1] == -1 || strip[2] == -1)
        logOut() << "error reading triangle strips: empty strip found\n";
    for (int64_t t = 2; t < length;) {
        if (strip[t] == -1) {
            t += 3; // the next strip's first triangle ends three indices on
            continue;
        }
        if (!(strip[t] != -1 && strip[t - 1] != -1 && strip[t - 2] != -1))
            return fail(error, "strip index " + std::to_string(t) +
                                   ": tstripdata[t] != -1 && tstripdata[t-1] != -1 && tstripdata[t-2] != -1 failed");
        if (!addTriangle(strip[t - 2], strip[t - 1], strip[t], error, uint32_t(t))) return false;
        ++t;
    }
    logOut() << "number of triangles: " << mMesh.triangles.size() << "\n";
    return true;
}
} // namespace

bool VObject3D::readPly(const std::string& fileName) {
    mLastError.clear();
    std::vector<uint8_t> bytes;
    if (!readFileBytes(fileName, bytes)) {
        logErr() << "Can't open plyfile " << fileName << "\n";
        return failRead("Can't open plyfile " + fileName);
    }
    logOut() << "Reading " << fileName << "...\n";
    return readPlyData(std::move(bytes));
}

bool VObject3D::readPlyData(std::vector<uint8_t> bytes) {
    mLastError.clear();
    clear();
    const size_t size = bytes.size();
    PlyReader reader(*this, std::move(bytes));
    std::string error;
    size_t consumed = 0;
    uint32_t line = 0;
    if (!reader.read(error, consumed, line)) {
        logErr() << error << "\n";
        if (line > 2) {
            if (consumed >= size) logOut() << "End Of file!\n";
            logErr() << "Error reading plyfile at line " << line << ".\n";
            error += " (line " + std::to_string(line) + ")";
        }
        return failRead(error);
    }
    logOut() << "Assign face normal directions.\n";
    if (!checkVertexPositions()) return false;
    repair();
    if (consumed < size) logErr() << "Warning: ignored excess garbage at end of ply file.\n";
    return true;
}
