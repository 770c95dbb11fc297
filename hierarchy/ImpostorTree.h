#pragma once
// The impostor tree of a hierarchy: one flat textured quad per surfel, with
// the surfel's parent, whose leaves reach the triangle patches of the
// surfel's nodes; each quad's texel size; and the clustering of the quads
// into texture atlases, which decides each quad's atlas and its texel
// position there.
//
// Failures (a quad that fits no atlas) are reported, never fatal: the
// functions return false with the reason in error.

#include "TextureSpace.h"
#include "Vec3.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

class VLODObject3D;

struct MTImpostor {
    struct Corner {
        float x = 0, y = 0, z = 0; // object space
        float s = 0, t = 0;        // texel position in the atlas
    };
    Corner corners[4]; // drawing order: (min u, min v), (max u, min v), (max u, max v), (min u, max v)
    Vec3f normal;
    float depth = 0;   // half the extent of its geometry along the normal
    uint8_t flag = 0;  // kept through the geometry file; 0 when built
    std::vector<uint32_t> children; // impostors (below inum), then inum + node for node references
    uint32_t parent = kNoParent;
    uint32_t atlas = 0;

    static constexpr uint32_t kNoParent = 0xFFFFFFFF;
};

// The settings that steer sizes and clustering (the viewer's configuration
// hands them in).
struct ImpostorSettings {
    int32_t sizeType = 0;          // 0: atlases of width x height texels, 1: count impostors per atlas
    int32_t width = 16, height = 16;
    int32_t count = 5;
    int32_t clusterAlgorithm = 0;  // 0 post order, 1 breadth first, 2 simple (root first, waiting list), 3 spatial
    int32_t textureResolution = 0; // 0 x1, 1 x4, 2 x16
};

// How many texels an impostor gets: as many as a view whose projection
// constant is projectionConstant (pixels per unit at distance 1) shows of it
// from where its depth would be seen at one pixel, but never from nearer
// than minDistance; each side then times factor.
struct TexelScale {
    // A 400-texel view with a 20 degree opening: the side files' atlases.
    static inline const double kSideFileConstant = 400.0 / (2.0 * std::tan(0.17453293));

    double projectionConstant = kSideFileConstant;
    double minDistance = 1.5;
    double factor = 1;
};

struct ImpostorAtlas {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> impostors; // in packing order
};

class ImpostorTree {
  public:
    std::vector<MTImpostor> impostors;
    uint32_t root = MTImpostor::kNoParent;
    std::vector<uint32_t> layers; // per impostor: 0 at the leaves, above all its children
    std::vector<ImpostorAtlas> atlases; // mNumTextures == atlases.size()
    uint32_t maxWidth = 0, maxHeight = 0; // largest impostor texel size

    uint32_t inum() const { return uint32_t(impostors.size()); }

    // One impostor per surfel of object, its quad fitted to the triangles
    // below it. Of several roots the one with the highest index is taken and
    // the others hang below it. False when the surfels have no root.
    bool init(const VLODObject3D& object, std::string& error);
    // Texel size of impostor i at the given resolution setting, for the
    // side files' atlases.
    void pixelSize(uint32_t i, int32_t textureResolution, uint32_t& width, uint32_t& height) const;
    void pixelSize(uint32_t i, const TexelScale& scale, uint32_t& width, uint32_t& height) const;
    // Texels all impostors take at that scale.
    uint64_t area(const TexelScale& scale) const;
    // Places every impostor, at that scale, into a shared atlas whose front
    // and back spaces are given (both stay identical). On success the spaces
    // hold the impostors and placed is this tree with every impostor in atlas
    // 0 at its texel position (one atlas of the spaces' size, listing the
    // impostors in packing order). When one does not fit, the spaces are
    // left as they were and placed untouched.
    bool pack(TextureSpace& front, TextureSpace& back, const TexelScale& scale, ImpostorTree& placed) const;
    // Chooses every impostor's atlas and the atlases' sizes and packing order.
    bool cluster(const ImpostorSettings& settings, std::string& error);
    // Finds the texel positions again, atlas by atlas in packing order, and
    // sets the corners' texture coordinates.
    bool place(int32_t textureResolution, std::string& error);

  private:
    void adoptRoots(const std::vector<uint32_t>& roots);
    // Shared by the clustering variants: the front and back spaces of the
    // atlas being filled (they stay identical; both are kept as specified).
    struct Packer;
    std::vector<uint32_t> packingOrder(int32_t clusterAlgorithm) const;
    bool clusterSimple(Packer& packer, bool counted, const char* variant);
};
