#pragma once
// The viewer's global settings (static members only) and the 33-byte stamp
// of them that the textures side file carries, so that a side file built
// under other settings is recognised and rebuilt. Also the normal lookup
// texture that shaders decode 16-bit normal indices with.

#include <GL/gl.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class VShaderProgram;

// The 32768-entry normal table as a 256 x 128 rectangle texture of float
// RGB texels (entry i at column i mod 256, row i div 256). Filled and
// uploaded on first bind.
class VNormalLookupTexture {
  public:
    static constexpr int kWidth = 256, kHeight = 128;

    // Makes texture unit 2 active, enables rectangle textures and binds it
    // with nearest filtering.
    void bind();
    // Deletes the OpenGL texture (needs the context it was made in).
    void release();
    GLuint id() const { return mId; }
    const std::vector<float>& texels() const { return mTexels; }

  private:
    GLuint mId = 0;
    std::vector<float> mTexels; // 3 floats per texel, row by row
};

class VConfiguration {
  public:
    VConfiguration() = delete;

    static float mConfigVersion;
    static int32_t mImpostorSizeType; // 0: fixed texel size, 1: fixed number of impostors
    static int32_t mImpostorHeight;
    static int32_t mImpostorWidth;
    static int32_t mNumImpostors;
    static bool mUseATI;              // ATI float texture formats, else NVIDIA's
    static int32_t mClusterAlgorithm; // 0 post order, 1 breadth first, 2 simple, 3 spatial
    static int32_t mPrefetchStrategy; // 0 none, 1 k parents & children, 2 direction dependend
    static bool mUseOutOfCore;
    static int32_t mTextureResolution;  // 0 x1, 1 x4, 2 x16
    static int32_t mTextureCompression; // 0 none, 1 dequantise in RAM, 2 dequantise in shader
    static VShaderProgram* mQuantShader; // not owned; set by the view's shader set-up
    static std::unique_ptr<VNormalLookupTexture> mNormalTexture;

    // Vendor detection and the normal lookup texture; needs a current context.
    // False, with the message, when the driver names no vendor.
    static bool init();
    // Any driver but NVIDIA's takes the ATI float formats (case matters).
    static bool usesATIFormats(const char* vendor);
    static int configurationSize() { return 33; }
    // The stamp of the current settings, little-endian, no padding.
    static std::vector<uint8_t> configurationStamp();
    // Writes the stamp at the file's position; false when writing fails.
    static bool writeConfiguration(std::FILE* file);
    // Reads a stamp at the file's position: whether a side file built under
    // it fits the current settings. A short read does not fit.
    static bool compareConfiguration(std::FILE* file);
    static bool compareConfiguration(const uint8_t* stamp, size_t size);
};
