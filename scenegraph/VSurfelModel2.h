#pragma once
// A hierarchy in the scene drawn from its side files alone: the geometry
// file (.mv3) read into arrays of its own, impostor textures taken from the
// textures file (.mv2) through the process-wide texture cache. Every frame
// it selects the cut over the impostor tree under the node's model-view
// matrix, asks the cache to fetch ahead what the cut will need next, and
// draws the accepted impostors (those whose texture the cache binds) and
// the patches of the nodes below the cut. Without a texture cache it draws
// the patches only. With the use-VBO flag, where the driver has buffer
// objects, the patches are drawn from one buffer holding every triangle's
// corners in file order, so that each arc's patch is one range of it.
// Needs a current context with the view's shaders when it is drawn.

#include "GeometryFile.h"
#include "ImpostorSelection.h"
#include "VGeometry.h"

#include <cstdint>
#include <string>

class VSurfelModel2 : public VGeometry {
  public:
    // Reads geometryFile and the textures file beside it (its ".mv3" ending
    // replaced by ".mv2"). Each that cannot be opened, and a geometry file
    // that cannot be read, gives "ERROR - loading file: " name " !!!" (and
    // then the reason) on the error log; the model then draws nothing. An
    // empty name loads nothing and says nothing.
    VSurfelModel2(const std::string& name, const std::string& geometryFile, bool useVBO);
    ~VSurfelModel2() override;

    void writeClassName(std::ostream& out) const override;
    void write(std::ostream& out) const override;
    // The common part and the entry, then loads the named file.
    void read(std::istream& in, bool& ok) override;
    // Reading keeps the file name without opening it (tools that only
    // check a scene file).
    void skipLoadingOnRead() { mLoadOnRead = false; }
    // Registers with the texture cache if that was made after loading.
    void init(const VTraversalContext& context) override;

    bool loaded() const { return mLoaded; }
    const std::string& geometryFileName() const { return mGeometryFile; }
    const std::string& texturesFileName() const { return mTexturesFile; }
    const GeometryFileContents& contents() const { return mContents; }
    // The cut of the last frame: accepted impostors, nodes whose patches
    // were drawn, the texture ids needed and those fetched ahead.
    const ImpostorSelection& selection() const { return mSelection; }
    uint64_t drawnTriangles() const { return mDrawnTriangles; }
    uint64_t drawnBillboards() const { return mDrawnBillboards; }

    // The file's sphere.
    void computeBoundingSphere() override;

    // Whether the patches are drawn from the buffer (made on the first draw).
    bool hasPatchBuffer() const { return mPatchBuffer != 0; }

  protected:
    void initVBO() override;
    void drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) override;
    // From the patch buffer; in immediate mode when it could not be made.
    void drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) override;

  private:
    bool mLoadOnRead = true;
    void load();
    void release();
    void registerWithCache();
    void releasePatchBuffer();
    void drawFrame(const VTraversalContext& context, VDrawStatistics& statistics, bool fromBuffer);
    void select(const VTraversalContext& context);
    void drawFilledPass(bool fromBuffer);
    void drawWireframePass(const VTraversalContext& context, bool fromBuffer);
    uint64_t drawImpostors() const;
    uint64_t drawPatches(bool fromBuffer) const;
    uint64_t drawPatchesFromBuffer() const;

    std::string mGeometryFile, mTexturesFile;
    GeometryFileContents mContents;
    uint32_t mAtlasCount = 0;
    bool mLoaded = false;
    bool mRegistered = false; // with the texture cache, under this object's address
    ImpostorSelection mSelection;
    uint64_t mDrawnTriangles = 0, mDrawnBillboards = 0;
    unsigned mPatchBuffer = 0; // 0: none
};
