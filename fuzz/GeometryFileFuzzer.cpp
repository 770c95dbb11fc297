// Feeds arbitrary bytes to the geometry side file (.mv3) reader. Whatever
// the bytes, the reader must either refuse them, leaving nothing behind and
// saying why, or accept them with every index in range and an impostor tree
// that a walk from the root finishes. An accepted file must also be exactly
// the bytes its contents encode: nothing skipped, nothing left over.

#include "FuzzCheck.h"
#include "ByteStream.h"
#include "GeometryFile.h"
#include "ImpostorSelection.h"
#include "SideFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
// More atlases than any seed has, so that the seeds are accepted as they are.
constexpr uint32_t kAtlasCount = 256;

void checkAccepted(const GeometryFileContents& c) {
    FUZZ_CHECK(c.vertices.size() % GeometryFileContents::kFloatsPerVertex == 0 &&
               c.triangles.size() % 3 == 0);
    for (uint32_t v : c.triangles)
        FUZZ_CHECK(v < c.vnum());
    for (const GeometryFileContents::Arc& a : c.arcs)
        FUZZ_CHECK(uint64_t(a.tstart) + a.tnum <= c.tnum());
    for (const GeometryFileContents::Node& n : c.nodes)
        FUZZ_CHECK(uint64_t(n.out) + n.onum <= c.anum());
    const uint32_t inum = c.tree.inum();
    FUZZ_CHECK(inum == 0 ? c.tree.root == MTImpostor::kNoParent : c.tree.root < inum);
    for (const MTImpostor& q : c.tree.impostors) {
        FUZZ_CHECK(q.atlas < kAtlasCount);
        FUZZ_CHECK(q.parent == MTImpostor::kNoParent || q.parent < inum);
        for (uint32_t child : q.children)
            FUZZ_CHECK(child < inum || child - inum < c.nnum());
    }
}

// The selection walks the tree from the root to its end: with the bound at
// zero (almost everything refused) and at one pixel, every impostor it
// accepts is one of the tree's, accepted once, and every node exists.
void checkSelectionEnds(const GeometryFileContents& c) {
    for (double e2 : {0.0, 1.0}) {
        ImpostorSelection cut;
        SelectionView view;
        view.e2 = e2;
        selectCut(c.tree, view, true, 1, cut);
        std::vector<uint8_t> accepted(c.tree.inum(), 0);
        for (uint32_t i : cut.validImposters)
            FUZZ_CHECK(i < c.tree.inum() && accepted[i]++ == 0);
        for (uint32_t node : cut.validTriangles)
            FUZZ_CHECK(node < c.nnum());
        for (uint32_t atlas : cut.needed)
            FUZZ_CHECK(atlas < kAtlasCount);
        for (uint32_t atlas : cut.prefetch)
            FUZZ_CHECK(atlas < kAtlasCount);
    }
}

std::vector<uint8_t> encode(const GeometryFileContents& c) {
    ByteWriter out;
    out.u32(c.compression);
    for (float value : {c.sphere.x, c.sphere.y, c.sphere.z, c.sphere.r})
        out.f32(value);
    out.u32(c.vnum());
    out.bytes(c.vertices.data(), c.vertices.size() * sizeof(float));
    out.u32(c.tnum());
    out.bytes(c.triangles.data(), c.triangles.size() * sizeof(uint32_t));
    out.u32(c.nnum());
    for (const GeometryFileContents::Node& n : c.nodes)
        out.u32(n.out), out.u32(n.onum);
    out.u32(c.anum());
    for (const GeometryFileContents::Arc& a : c.arcs)
        out.u32(a.tnum), out.u32(a.tstart);
    out.u32(c.tree.inum());
    for (const MTImpostor& q : c.tree.impostors)
        writeImpostor(out, q);
    out.u32(c.tree.root);
    return out.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GeometryFileContents contents;
    std::string error;
    if (!readGeometryBytes(data, size, kAtlasCount, contents, error)) {
        FUZZ_CHECK(contents.empty());
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    checkAccepted(contents);
    checkSelectionEnds(contents);
    const std::vector<uint8_t> again = encode(contents);
    FUZZ_CHECK(again.size() == size && (size == 0 || std::memcmp(again.data(), data, size) == 0));
    return 0;
}
