#pragma once
// A hierarchy in the scene: the whole object read from its .mvh file with
// its impostors and side files (made when missing), which selects and draws
// its own cut under the node's model-view matrix, the way the view draws a
// hierarchy it shows directly. Needs a current context with the view's
// shaders when it is made and drawn.

#include "HierarchyDrawing.h"
#include "VGeometry.h"
#include "VLODObject3D.h"

#include <string>

// The entry both surfel-model kinds write after the common part:
// "filename of mvh-file:", the file name, "use VBO:", the flag.
void writeSurfelModelEntry(std::ostream& out, const std::string& fileName, bool useVBO);
void readSurfelModelEntry(std::istream& in, std::string& fileName, bool& useVBO, bool& ok);

class VSurfelModel : public VGeometry {
  public:
    // Reads fileName; when that fails prints "ERROR - loading file: "
    // fileName " !!!" (then the reason) on the error log and draws nothing.
    // An empty name loads nothing and says nothing: the model is to be read
    // from a scene file.
    VSurfelModel(const std::string& name, const std::string& fileName, bool useVBO);
    ~VSurfelModel() override;

    void writeClassName(std::ostream& out) const override;
    void write(std::ostream& out) const override;
    // The common part and the entry, then loads the named file.
    void read(std::istream& in, bool& ok) override;
    // Reading keeps the file name without opening it (tools that only
    // check a scene file).
    void skipLoadingOnRead() { mLoadOnRead = false; }

    bool loaded() const { return mLoaded; }
    const std::string& fileName() const { return mFileName; }
    const VLODObject3D& object() const { return mObject; }
    // What the last frame drew.
    const FrameCounts& lastFrame() const { return mLastFrame; }
    // Why buffers could not be made (the model then draws in immediate mode).
    const std::string& bufferProblem() const { return mBufferProblem; }

    // The object's sphere.
    void computeBoundingSphere() override;

  protected:
    void initVBO() override;
    void drawImmediate(const VTraversalContext& context, VDrawStatistics& statistics) override;
    void drawVBO(const VTraversalContext& context, VDrawStatistics& statistics) override;

  private:
    bool mLoadOnRead = true;
    void load();
    void drawFrame(const VTraversalContext& context, VDrawStatistics& statistics, GeometrySource source);

    std::string mFileName;
    VLODObject3D mObject;
    HierarchyDrawing mDrawing; // textures and buffers of mObject
    bool mLoaded = false;
    bool mBuffersReady = false;
    std::string mBufferProblem;
    FrameCounts mLastFrame;
};
