// Feeds arbitrary bytes to the textures side file (.mv2) readers, as a file
// opened on memory. A refused file must say why and leave no directory
// behind. An accepted directory must place both sides of every atlas inside
// the file, and every atlas must then read in full: an uncompressed one as
// exactly the floats the file holds at its offset, a compressed one as
// finite texels with depths inside the entry's range. What was read must
// also survive the writer: written again and read back it gives the same
// atlases, bit for bit without compression (and the file written is then
// its own copy); with compression, every empty texel stays empty, every
// other normal stays within the quantizer's reach and every depth within
// one step of the new file's depth codes.

#include "FuzzCheck.h"
#include "TexturesFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
// Every atlas lies inside the input, but atlases may share their bytes: a
// short file of many entries over one block asks for far more texels than it
// holds, and reading, writing and reading them again would outlast -timeout.
constexpr uint64_t kMaxTexels = uint64_t(1) << 20;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Null only for an empty input, which fmemopen refuses.
File openOnMemory(std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return File(nullptr, &std::fclose);
    return File(fmemopen(bytes.data(), bytes.size(), "rb"), &std::fclose);
}

struct TexturesRead {
    TexturesFileDirectory directory;
    std::vector<RenderedAtlas> atlases;
};

// False, after checking that a refusal says why and keeps nothing.
bool readDirectory(std::FILE* file, TexturesFileDirectory& directory) {
    std::string error;
    if (readTexturesDirectory(file, directory, error)) return true;
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(directory.atlases.empty() && directory.header.atlasCount == 0);
    return false;
}

// Every atlas of an accepted directory reads; one past its end does not.
void readAtlases(std::FILE* file, TexturesRead& read) {
    const TexturesFileDirectory& d = read.directory;
    read.atlases.resize(d.atlases.size());
    for (uint32_t a = 0; a < d.atlases.size(); ++a) {
        std::string error;
        FUZZ_CHECK(readAtlas(file, d, a, read.atlases[a], error));
    }
    std::string error;
    RenderedAtlas none;
    FUZZ_CHECK(!readAtlas(file, d, uint32_t(d.atlases.size()), none, error) && !error.empty());
}

uint64_t texelsOf(const TexturesFileDirectory& d) {
    uint64_t texels = 0;
    for (const AtlasEntry& e : d.atlases) texels += uint64_t(e.width) * e.height;
    return texels;
}

void checkEntriesInside(const TexturesFileDirectory& d, uint64_t fileBytes) {
    const uint64_t perTexel = 2 * d.header.texelBytes();
    for (const AtlasEntry& e : d.atlases) {
        // Divided: width * height fits 64 bits, times both sides' bytes may not.
        FUZZ_CHECK(e.offset <= fileBytes);
        FUZZ_CHECK(uint64_t(e.width) * e.height <= (fileBytes - e.offset) / perTexel);
    }
}

void checkAtlasesAsStored(const TexturesRead& read, const std::vector<uint8_t>& bytes) {
    const TexturesFileDirectory& d = read.directory;
    for (size_t a = 0; a < d.atlases.size(); ++a) {
        const AtlasEntry& e = d.atlases[a];
        const RenderedAtlas& atlas = read.atlases[a];
        const uint64_t texels = uint64_t(e.width) * e.height;
        FUZZ_CHECK(atlas.width == e.width && atlas.height == e.height);
        FUZZ_CHECK(atlas.front.size() == 4 * texels && atlas.back.size() == 4 * texels);
        if (!d.header.compressed()) {
            const uint64_t side = texels * 16;
            FUZZ_CHECK(texels == 0 || std::memcmp(atlas.front.data(), bytes.data() + e.offset, side) == 0);
            FUZZ_CHECK(texels == 0 || std::memcmp(atlas.back.data(), bytes.data() + e.offset + side, side) == 0);
            continue;
        }
        const float low = std::min(e.smallest, e.largest), high = std::max(e.smallest, e.largest);
        for (const std::vector<float>* side : {&atlas.front, &atlas.back})
            for (size_t k = 0; k < side->size(); ++k) {
                FUZZ_CHECK(std::isfinite((*side)[k]));
                if (k % 4 == 3) FUZZ_CHECK((*side)[k] >= low && (*side)[k] <= high);
            }
    }
}

// A table normal quantized again comes back as itself or a neighbour: the
// greedy descent does not always find the nearest entry (at worst 4.2
// degrees away over the whole table). An empty texel stays empty.
bool normalsAgree(const float* before, const float* after) {
    const bool empty = before[0] == 0 && before[1] == 0 && before[2] == 0;
    if (empty) return after[0] == 0 && after[1] == 0 && after[2] == 0;
    const double cosine = double(before[0]) * after[0] + double(before[1]) * after[1] + double(before[2]) * after[2];
    return cosine >= std::cos(5.0 * 3.14159265358979 / 180.0);
}

// Depths of a compressed file come back within one code step of the range
// the writer chose, plus the rounding of the decoded float.
bool depthsAgree(float before, float after, float smallest, float largest) {
    const double step = (double(largest) - smallest) / 65535.0;
    const double ulp = std::max(std::abs(smallest), std::abs(largest)) * 0x1p-23;
    return std::abs(double(before) - after) <= step + ulp;
}

void checkSameAtlases(const TexturesRead& first, const TexturesRead& again, bool compressed) {
    FUZZ_CHECK(again.atlases.size() == first.atlases.size());
    for (size_t a = 0; a < first.atlases.size(); ++a) {
        const RenderedAtlas &x = first.atlases[a], &y = again.atlases[a];
        const AtlasEntry& written = again.directory.atlases[a];
        FUZZ_CHECK(x.width == y.width && x.height == y.height);
        if (!compressed) {
            FUZZ_CHECK(x.front.empty() || std::memcmp(x.front.data(), y.front.data(), x.front.size() * 4) == 0);
            FUZZ_CHECK(x.back.empty() || std::memcmp(x.back.data(), y.back.data(), x.back.size() * 4) == 0);
            continue;
        }
        for (auto [before, after] : {std::pair(&x.front, &y.front), std::pair(&x.back, &y.back)})
            for (size_t k = 0; k < before->size(); k += 4) {
                FUZZ_CHECK(normalsAgree(&(*before)[k], &(*after)[k]));
                FUZZ_CHECK(depthsAgree((*before)[k + 3], (*after)[k + 3], written.smallest, written.largest));
            }
    }
}

// Written with the input's own stamp, so that the mode stays the input's.
void checkRewrite(const TexturesRead& read, const std::vector<uint8_t>& input) {
    const std::vector<uint8_t> stamp(input.begin(), input.begin() + kStampBytes);
    const bool compressed = read.directory.header.compressed();
    std::vector<uint8_t> written = texturesFileBytes(stamp, read.atlases, compressed);
    File file = openOnMemory(written);
    TexturesRead again;
    FUZZ_CHECK(file != nullptr && readDirectory(file.get(), again.directory));
    FUZZ_CHECK(again.directory.header.compression == read.directory.header.compression);
    readAtlases(file.get(), again);
    checkSameAtlases(read, again, compressed);
    // Without compression nothing is lost: the writer's file is its own copy.
    if (!compressed) FUZZ_CHECK(texturesFileBytes(stamp, again.atlases, false) == written);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    File file = openOnMemory(bytes);
    FUZZ_CHECK(file != nullptr || size == 0);
    TexturesRead read;
    if (!file || !readDirectory(file.get(), read.directory)) return 0;
    FUZZ_CHECK(read.directory.header.fileBytes == size);
    FUZZ_CHECK(read.directory.atlases.size() == read.directory.header.atlasCount);
    checkEntriesInside(read.directory, size);
    if (texelsOf(read.directory) > kMaxTexels) return 0;
    readAtlases(file.get(), read);
    checkAtlasesAsStored(read, bytes);
    checkRewrite(read, bytes);
    return 0;
}
