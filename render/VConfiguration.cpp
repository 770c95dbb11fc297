#include "VConfiguration.h"

#include "ByteStream.h"
#include "GLExtensions.h"
#include "LogStream.h"
#include "QuantizedNormal.h"

#include <cstring>

float VConfiguration::mConfigVersion = 1.1f;
int32_t VConfiguration::mImpostorSizeType = 0;
int32_t VConfiguration::mImpostorHeight = 16;
int32_t VConfiguration::mImpostorWidth = 16;
int32_t VConfiguration::mNumImpostors = 5;
bool VConfiguration::mUseATI = true;
int32_t VConfiguration::mClusterAlgorithm = 0;
int32_t VConfiguration::mPrefetchStrategy = 1;
bool VConfiguration::mUseOutOfCore = true;
int32_t VConfiguration::mTextureResolution = 0;
int32_t VConfiguration::mTextureCompression = 0;
VShaderProgram* VConfiguration::mQuantShader = nullptr;
std::unique_ptr<VNormalLookupTexture> VConfiguration::mNormalTexture;

// A null vendor string means no usable context.
bool VConfiguration::init() {
    const char* vendor = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
    if (!vendor) {
        logErr() << "glGetString(GL_VENDOR) returns NULL! Please check VConfiguration::init()!\n";
        return false;
    }
    mUseATI = usesATIFormats(vendor);
    logErr() << "\nOpenGL Vendor: " << vendor << "\nVConfiguration::mUseATI = " << (mUseATI ? "true" : "false")
             << "\n\n";
    mNormalTexture = std::make_unique<VNormalLookupTexture>();
    return true;
}

bool VConfiguration::usesATIFormats(const char* vendor) {
    return !std::strstr(vendor, "NVIDIA") && !std::strstr(vendor, "Nvidia");
}

std::vector<uint8_t> VConfiguration::configurationStamp() {
    ByteWriter out;
    out.f32(mConfigVersion);
    out.u32(uint32_t(mImpostorSizeType));
    out.u32(uint32_t(mImpostorHeight));
    out.u32(uint32_t(mImpostorWidth));
    out.u32(uint32_t(mNumImpostors));
    out.u32(uint32_t(mClusterAlgorithm));
    out.u8(mUseATI ? 1 : 0);
    out.u32(uint32_t(mTextureResolution));
    out.u32(uint32_t(mTextureCompression));
    return out.data();
}

bool VConfiguration::writeConfiguration(std::FILE* file) {
    const std::vector<uint8_t> stamp = configurationStamp();
    return std::fwrite(stamp.data(), 1, stamp.size(), file) == stamp.size();
}

bool VConfiguration::compareConfiguration(std::FILE* file) {
    uint8_t stamp[33];
    const size_t read = std::fread(stamp, 1, sizeof stamp, file);
    return compareConfiguration(stamp, read);
}

bool VConfiguration::compareConfiguration(const uint8_t* stamp, size_t size) {
    ByteReader in(stamp, size);
    float version = 0;
    uint32_t sizeType = 0, height = 0, width = 0, count = 0, cluster = 0, resolution = 0, compression = 0;
    uint8_t useATI = 0;
    if (!in.f32(version) || !in.u32(sizeType) || !in.u32(height) || !in.u32(width) || !in.u32(count) ||
        !in.u32(cluster) || !in.u8(useATI) || !in.u32(resolution) || !in.u32(compression))
        return false;
    if (version != mConfigVersion) return false;
    if (int32_t(cluster) != mClusterAlgorithm || int32_t(sizeType) != mImpostorSizeType) return false;
    if (mImpostorSizeType == 0 && (int32_t(height) != mImpostorHeight || int32_t(width) != mImpostorWidth))
        return false;
    if (mImpostorSizeType == 1 && int32_t(count) != mNumImpostors) return false;
    if ((useATI != 0) != mUseATI || int32_t(resolution) != mTextureResolution) return false;
    // Modes 1 and 2 both keep quantised texels in the file.
    if (mTextureCompression == 0 && compression != 0) return false;
    if ((mTextureCompression == 1 || mTextureCompression == 2) && compression == 0) return false;
    return true;
}

void VNormalLookupTexture::bind() {
    ext::glActiveTextureARB(GL_TEXTURE2_ARB);
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    if (mId == 0) {
        if (mTexels.empty()) {
            initTetrahederLookupTableRec();
            mTexels.resize(size_t(kWidth) * kHeight * 3);
            for (uint32_t i = 0; i < uint32_t(kWidth) * kHeight; ++i) {
                const Vec3f& n = dequantizeNormal(uint16_t(i));
                mTexels[3 * i] = n.x;
                mTexels[3 * i + 1] = n.y;
                mTexels[3 * i + 2] = n.z;
            }
        }
        glGenTextures(1, &mId);
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mId);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        const GLint format = VConfiguration::mUseATI ? GL_RGB16F_ARB : GL_FLOAT_RGB16_NV;
        glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, format, kWidth, kHeight, 0, GL_RGB, GL_FLOAT, mTexels.data());
    }
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mId);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

void VNormalLookupTexture::release() {
    if (mId) glDeleteTextures(1, &mId);
    mId = 0;
}
