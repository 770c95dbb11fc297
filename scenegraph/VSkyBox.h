#pragma once
// A textured cube around the viewer: drawn turned with the camera but never
// moved, so that it stays centred on the eye. Faces in the order +x, -x, +y,
// -y, +z, -z, each with its own image; a face whose image cannot be read is
// drawn untextured in grey.

#include "VGeometry.h"

#include <array>
#include <memory>

class VTextureRGBA;

class VSkyBox : public VGeometry {
  public:
    static constexpr int kFaces = 6;

    VSkyBox(const std::string& name, const std::array<std::string, kFaces>& textureFiles, float edgeLength,
            bool useVBO);
    static VSkyBox* makeForReading();
    ~VSkyBox() override;

    void draw(const VTraversalContext& context, VDrawStatistics& statistics) override;
    void computeBoundingSphere() override;
    void freeArrays() override;

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VSkyBox\n"; }
    void read(std::istream& in, bool& ok) override;

    const std::array<std::string, kFaces>& textureFiles() const { return mTextureFiles; }
    float edgeLength() const { return mEdgeLength; }
    // Faces whose image was read (after init).
    int texturedFaces() const;

  protected:
    // The face quads, and the face images read into memory (uploaded at
    // the first draw).
    void buildGeometry() override;

  private:
    void loadTextures();
    void drawFace(int face);

    std::array<std::string, kFaces> mTextureFiles;
    float mEdgeLength;
    std::array<std::unique_ptr<VTextureRGBA>, kFaces> mTextures;
    bool mTexturesTried = false;
};
