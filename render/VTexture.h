#pragma once
// Textures the viewer draws with: the abstract base, and the impostor
// texture pair (front and back view of one atlas) read from a hierarchy's
// textures side file, in the three compression modes of the configuration:
// 0 float texels, 1 quantised in the file and decoded on loading, 2
// quantised in memory and decoded by the billboard shader.

#include <GL/gl.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class VTexture {
  public:
    int32_t width = 0, height = 0, depth = 0;
    bool hasClientData = false; // decoded texels in memory
    bool uploaded = false;      // OpenGL textures exist

    virtual ~VTexture();
    virtual bool isLoaded() const { return hasClientData || uploaded; }
    // False, with a message, when there is nothing to upload.
    virtual bool upload() = 0;
    virtual void bind() = 0;
    virtual uint32_t sizeInBytes() const = 0;
    virtual void freeClientData() { hasClientData = false; }
    virtual void deleteTextures() { uploaded = false; }
    void getSize(int32_t& w, int32_t& h, int32_t& d) const;
};

// Bytes an impostor atlas of width x height texels takes once loaded, both
// sides: four floats a texel, or two 16-bit codes when it keeps its codes.
uint64_t impostorAtlasBytes(uint32_t width, uint32_t height, bool keepsCodes);

struct AtlasEntry;
struct TexturesFileHeader;

class VImposterTexture : public VTexture {
  public:
    int32_t index;
    float minDepth = 0, maxDepth = 0;
    const bool quantised; // asked to keep codes in memory (compression 2), fixed at construction

    explicit VImposterTexture(int32_t textureIndex);
    ~VImposterTexture() override;

    bool upload() override;
    // Units 0 and 1 get the front and back texture; quantised textures also
    // set the quantised billboard program's "delta" and "minDepth".
    void bind() override;
    // Fixed from the directory entry on: a later change of the configuration
    // does not change what this texture holds.
    uint32_t sizeInBytes() const override;
    // Quantised texels stay codes only when the file holds codes.
    bool keepsCodes() const { return quantised && mFileCompressed; }
    void freeClientData() override;
    // Needs the context the textures were made in.
    void deleteTextures() override;

    // Width and height only, from the directory of an open textures file.
    bool loadInfo(std::FILE* file);
    bool loadInfo(const std::string& path);
    // The texels of both sides. False, with lastError(), when the file is
    // too short for what its directory says; the texture is then empty.
    bool load(std::FILE* file);
    bool load(const std::string& path);

    const std::string& lastError() const { return mError; }
    // Client texels: four floats (normal, depth) or two codes (normal index,
    // depth code) per texel.
    const std::vector<float>& frontTexels() const { return mFront; }
    const std::vector<float>& backTexels() const { return mBack; }
    const std::vector<uint16_t>& frontQuantised() const { return mFrontQuantised; }
    const std::vector<uint16_t>& backQuantised() const { return mBackQuantised; }
    GLuint frontTexture() const { return mTextures[0]; }
    GLuint backTexture() const { return mTextures[1]; }

  private:
    void releaseAll();
    bool readEntry(std::FILE* file, TexturesFileHeader& header, AtlasEntry& entry);
    bool fail(const std::string& message);

    std::vector<float> mFront, mBack;
    std::vector<uint16_t> mFrontQuantised, mBackQuantised;
    GLuint mTextures[2] = {0, 0};
    bool mFileCompressed = false; // the textures file holds codes, whatever the configuration says now
    std::string mError;
};

// An image texture of scene resources: any picture the image reader knows,
// as one rectangle texture of RGBA bytes on a chosen texture unit.
class VTextureRGBA : public VTexture {
  public:
    std::string fileName;
    bool loaded = false;

    explicit VTextureRGBA(std::string imageFile) : fileName(std::move(imageFile)) {}
    ~VTextureRGBA() override;

    // Units from 0 up to the driver's count (at most 31); others leave the
    // texture unbindable.
    void setTextureUnit(int unit);
    bool unitValid() const { return mUnitValid; }
    // False when the image cannot be read; the texture is then empty.
    bool load();
    bool upload() override;
    void bind() override;
    uint32_t sizeInBytes() const override { return uint32_t(width) * uint32_t(height) * 4; }
    void freeClientData() override;
    void deleteTextures() override;
    const std::vector<uint8_t>& pixels() const { return mPixels; } // RGBA, row by row from the top
    GLuint texture() const { return mTexture; }

  private:
    int mUnit = 0;
    GLenum mUnitEnum = GL_TEXTURE0;
    bool mUnitValid = false;
    std::vector<uint8_t> mPixels;
    GLuint mTexture = 0;
};

