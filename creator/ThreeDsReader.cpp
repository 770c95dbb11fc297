// 3DS reader: the triangle meshes of every object of the editor chunk. A 3DS
// file is a tree of chunks, each a 16-bit id and a 32-bit length (header
// included), little-endian.

#include "FileBytes.h"
#include "LogStream.h"
#include "VObject3D.h"

#include <cstring>
#include <optional>

namespace {
constexpr uint16_t kMainChunk = 0x4D4D;
constexpr uint16_t kEditorChunk = 0x3D3D;
constexpr uint16_t kObjectChunk = 0x4000;
constexpr uint16_t kTriangleMeshChunk = 0x4100;
constexpr uint16_t kVertexListChunk = 0x4110;
constexpr uint16_t kFaceListChunk = 0x4120;
constexpr size_t kChunkHeader = 6;

struct Chunk {
    size_t begin; // the header
    size_t end;   // one past the content, within the parent
    size_t content() const { return begin + kChunkHeader; }
};

class ThreeDsReader {
  public:
    ThreeDsReader(VObject3D& mesh, const std::vector<uint8_t>& bytes) : mMesh(mesh), mBytes(bytes) {}
    bool read(std::string& error);
    uint32_t flatTriangles() const { return mFlat; }

  private:
    // The first chunk with the id in [from, end), or none.
    std::optional<Chunk> findChunk(size_t from, size_t end, uint16_t id) const;
    bool readObject(const Chunk& object, std::string& error);
    bool readFaces(const Chunk& faces, uint32_t base, std::string& error);

    template <typename T> bool get(size_t& pos, size_t end, T& value) const {
        if (pos > end || end - pos < sizeof(T)) return false;
        std::memcpy(&value, mBytes.data() + pos, sizeof(T)); // files and hosts are little-endian
        pos += sizeof(T);
        return true;
    }
    // A zero-terminated name; false when the chunk ends first.
    bool getName(size_t& pos, size_t end, std::string& name) const;

    VObject3D& mMesh;
    const std::vector<uint8_t>& mBytes;
    uint32_t mFlat = 0;
};

std::optional<Chunk> ThreeDsReader::findChunk(size_t from, size_t end, uint16_t id) const {
    size_t pos = from;
    while (pos < end && end - pos >= kChunkHeader) {
        uint16_t chunkId = 0;
        uint32_t length = 0;
        size_t at = pos;
        get(at, end, chunkId);
        get(at, end, length);
        if (length < kChunkHeader) return std::nullopt; // would never move on
        Chunk c{pos, std::min<size_t>(end, pos + size_t(length))};
        if (chunkId == id) return c;
        if (length > end - pos) return std::nullopt;
        pos += length;
    }
    return std::nullopt;
}

bool ThreeDsReader::getName(size_t& pos, size_t end, std::string& name) const {
    const void* zero = pos < end ? std::memchr(mBytes.data() + pos, 0, end - pos) : nullptr;
    if (!zero) return false;
    size_t length = size_t(static_cast<const uint8_t*>(zero) - (mBytes.data() + pos));
    name.assign(reinterpret_cast<const char*>(mBytes.data()) + pos, length);
    pos += length + 1;
    return true;
}

bool ThreeDsReader::read(std::string& error) {
    uint16_t id = 0;
    uint32_t length = 0;
    size_t pos = 0;
    if (!get(pos, mBytes.size(), id) || !get(pos, mBytes.size(), length) || id != kMainChunk || length < kChunkHeader) {
        error = "not a 3DS file: it does not start with the main chunk";
        return false;
    }
    const Chunk main{0, std::min<size_t>(mBytes.size(), length)};
    std::optional<Chunk> editor = findChunk(main.content(), main.end, kEditorChunk);
    if (!editor) {
        error = "the 3DS file has no editor chunk";
        return false;
    }
    size_t next = editor->content();
    while (std::optional<Chunk> object = findChunk(next, editor->end, kObjectChunk)) {
        if (!readObject(*object, error)) return false;
        next = object->end;
    }
    return true;
}

bool ThreeDsReader::readObject(const Chunk& object, std::string& error) {
    size_t pos = object.content();
    std::string name;
    if (!getName(pos, object.end, name)) {
        error = "unexpected end of file in an object name";
        return false;
    }
    logOut() << "name: " << name << "\n";
    std::optional<Chunk> mesh = findChunk(pos, object.end, kTriangleMeshChunk);
    if (!mesh) return true; // cameras and lights have no triangles
    logOut() << "\ttri-chunk\n";

    const uint32_t base = uint32_t(mMesh.vertices.size());
    if (std::optional<Chunk> list = findChunk(mesh->content(), mesh->end, kVertexListChunk)) {
        size_t at = list->content();
        uint16_t count = 0;
        if (!get(at, list->end, count) || list->end - at < size_t(count) * 12) {
            error = "unexpected end of file";
            return false;
        }
        logOut() << "\ttri-vertex (" << count << ")\n";
        for (uint16_t i = 0; i < count; ++i) {
            float c[3] = {0, 0, 0};
            for (float& v : c) get(at, list->end, v);
            mMesh.vertices.push_back(std::make_unique<VStaticVertex>(Vec3f(c[0], c[1], c[2])));
        }
    }
    if (std::optional<Chunk> faces = findChunk(mesh->content(), mesh->end, kFaceListChunk))
        return readFaces(*faces, base, error);
    return true;
}

bool ThreeDsReader::readFaces(const Chunk& faces, uint32_t base, std::string& error) {
    size_t at = faces.content();
    uint16_t count = 0;
    if (!get(at, faces.end, count) || faces.end - at < size_t(count) * 8) {
        error = "unexpected end of file";
        return false;
    }
    logOut() << "\ttri-face (" << count << ")\n";
    for (uint16_t f = 0; f < count; ++f) {
        uint16_t a = 0, b = 0, c = 0, flags = 0;
        get(at, faces.end, a);
        get(at, faces.end, b);
        get(at, faces.end, c);
        get(at, faces.end, flags);
        if (a == b || b == c || a == c) {
            ++mFlat;
            continue;
        }
        for (uint16_t i : {a, b, c})
            if (base + i >= mMesh.vertices.size()) {
                error = "face " + std::to_string(f) + ": vertex index " + std::to_string(i) + " out of range (" +
                        std::to_string(mMesh.vertices.size() - base) + " vertices in the object)";
                return false;
            }
        VTriangle t;
        t.v[0] = base + b; // 3DS winds the other way round
        t.v[1] = base + a;
        t.v[2] = base + c;
        mMesh.triangles.push_back(t);
    }
    // The face-material chunks that follow would only set each listed
    // triangle's material word to the 0 it already has: they are not read.
    return true;
}
} // namespace

bool VObject3D::read3ds(const std::string& fileName) {
    mLastError.clear();
    logOut() << "import 3ds-file\n";
    std::vector<uint8_t> bytes;
    if (!readFileBytes(fileName, bytes)) {
        logErr() << "Can't open 3ds file " << fileName << "\n";
        return failRead("Can't open 3ds file " + fileName);
    }
    return read3dsData(bytes);
}

bool VObject3D::read3dsData(const std::vector<uint8_t>& bytes) {
    mLastError.clear();
    clear();
    ThreeDsReader reader(*this, bytes);
    std::string error;
    if (!reader.read(error)) {
        logErr() << error << "\n";
        return failRead(error);
    }
    if (reader.flatTriangles() > 0)
        logOut() << reader.flatTriangles() << " flat triangles were founded (and ignored)!\n";
    if (!checkVertexPositions()) return false;
    repair();
    return true;
}
