#include "VTexture.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VConfiguration.h"
#include "VShaderProgram.h"

#include <QImage>

#include <cstring>
#include <memory>

namespace {
constexpr long kDirectoryStart = 41; // after the stamp, the size and the count
constexpr long kEntryBytes = 20;
constexpr uint16_t kEmptyCode = 0x8000;

long fileSize(std::FILE* file) {
    const long here = std::ftell(file);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return size;
}

bool readValues(std::FILE* file, void* out, size_t bytes) { return std::fread(out, 1, bytes, file) == bytes; }
} // namespace

VTexture::~VTexture() {
    hasClientData = false;
    uploaded = false;
}

void VTexture::getSize(int32_t& w, int32_t& h, int32_t& d) const {
    w = width;
    h = height;
    d = depth;
}

VImposterTexture::VImposterTexture(int32_t textureIndex)
    : index(textureIndex), quantised(VConfiguration::mTextureCompression == 2) {}

// The textures may outlive their context, so they are not deleted here.
VImposterTexture::~VImposterTexture() = default;

uint64_t impostorAtlasBytes(uint32_t width, uint32_t height) {
    return uint64_t(width) * height * (VConfiguration::mTextureCompression == 2 ? 8 : 32);
}

uint32_t VImposterTexture::sizeInBytes() const { return uint32_t(impostorAtlasBytes(uint32_t(width), uint32_t(height))); }

void VImposterTexture::freeClientData() {
    mFront = {};
    mBack = {};
    mFrontQuantised = {};
    mBackQuantised = {};
    VTexture::freeClientData();
}

void VImposterTexture::deleteTextures() {
    if (mTextures[0] || mTextures[1]) glDeleteTextures(2, mTextures);
    mTextures[0] = mTextures[1] = 0;
    VTexture::deleteTextures();
}

void VImposterTexture::releaseAll() {
    deleteTextures();
    freeClientData();
    width = height = 0;
    mError.clear();
}

bool VImposterTexture::fail(const std::string& message) {
    releaseAll();
    mError = message;
    return false;
}

// Reads this texture's directory entry; offset receives where its texels start.
bool VImposterTexture::readEntry(std::FILE* file, uint32_t& offset) {
    const long size = fileSize(file);
    uint32_t count = 0;
    if (size < kDirectoryStart || std::fseek(file, kDirectoryStart - 4, SEEK_SET) != 0 ||
        !readValues(file, &count, 4))
        return fail("the textures file is too short for its header");
    const long entry = kDirectoryStart + kEntryBytes * long(index);
    if (index < 0 || uint32_t(index) >= count || entry + kEntryBytes > size)
        return fail("texture " + std::to_string(index) + " is not in the file's directory");
    uint8_t bytes[kEntryBytes];
    if (std::fseek(file, entry, SEEK_SET) != 0 || !readValues(file, bytes, sizeof bytes))
        return fail("cannot read the directory entry of texture " + std::to_string(index));
    int32_t w = 0, h = 0;
    std::memcpy(&w, bytes, 4);
    std::memcpy(&h, bytes + 4, 4);
    std::memcpy(&offset, bytes + 8, 4);
    std::memcpy(&minDepth, bytes + 12, 4);
    std::memcpy(&maxDepth, bytes + 16, 4);
    if (w < 0 || h < 0) return fail("texture " + std::to_string(index) + " has a negative size");
    width = w;
    height = h;
    return true;
}

bool VImposterTexture::loadInfo(std::FILE* file) {
    releaseAll();
    uint32_t offset = 0;
    return readEntry(file, offset);
}

bool VImposterTexture::load(std::FILE* file) {
    releaseAll();
    uint32_t offset = 0;
    if (!readEntry(file, offset)) return false;
    const int32_t compression = VConfiguration::mTextureCompression;
    const uint64_t texels = uint64_t(width) * uint64_t(height);
    const uint64_t bytesPerTexel = compression == 0 ? 16 : 4;
    // Both sides must lie inside the file before anything is allocated
    // (divided, so that a lying size cannot overflow the test).
    const uint64_t size = uint64_t(fileSize(file));
    if (offset > size || texels > (size - offset) / (2 * bytesPerTexel))
        return fail("texture " + std::to_string(index) + " lies beyond the end of the file");
    if (std::fseek(file, long(offset), SEEK_SET) != 0) return fail("cannot seek to texture " + std::to_string(index));

    if (compression == 0) {
        mFront.resize(4 * texels);
        mBack.resize(4 * texels);
        if (!readValues(file, mFront.data(), 16 * texels) || !readValues(file, mBack.data(), 16 * texels))
            return fail("cannot read texture " + std::to_string(index));
    } else {
        std::vector<uint16_t> front(2 * texels), back(2 * texels);
        if (!readValues(file, front.data(), 4 * texels) || !readValues(file, back.data(), 4 * texels))
            return fail("cannot read texture " + std::to_string(index));
        if (quantised) {
            mFrontQuantised = std::move(front);
            mBackQuantised = std::move(back);
        } else {
            // Decoded on loading: the table normal, or none for an empty texel.
            initTetrahederLookupTableRec();
            for (auto [codes, texelsOut] : {std::pair{&front, &mFront}, std::pair{&back, &mBack}}) {
                texelsOut->assign(4 * texels, 0.0f);
                for (uint64_t k = 0; k < texels; ++k) {
                    const uint16_t normal = (*codes)[2 * k], depthCode = (*codes)[2 * k + 1];
                    float* t = &(*texelsOut)[4 * k];
                    if (normal < kEmptyCode) {
                        const Vec3f& n = dequantizeNormal(normal);
                        t[0] = n.x;
                        t[1] = n.y;
                        t[2] = n.z;
                    }
                    t[3] = float(depthCode) * (maxDepth - minDepth) / 65536.0f + minDepth;
                }
            }
        }
    }
    hasClientData = true;
    return true;
}

bool VImposterTexture::loadInfo(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file || !loadInfo(file.get())) {
        logErr() << "ERROR loading file from " << path << "!!!\n";
        if (mError.empty()) mError = "cannot open " + path;
        return false;
    }
    return true;
}

bool VImposterTexture::load(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file || !load(file.get())) {
        logErr() << "ERROR loading file from " << path << "!!!\n";
        if (mError.empty()) mError = "cannot open " + path;
        return false;
    }
    return true;
}

// Without client data there is nothing to upload: a message and false, so
// that a drawing caller can skip the impostor instead of stopping.
bool VImposterTexture::upload() {
    if (!hasClientData) {
        logErr() << "Error using VImposterTexture! Call load() before using initialise() or useTexture()!\n";
        return false;
    }
    deleteTextures();
    glGenTextures(2, mTextures);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int side = 0; side < 2; ++side) {
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTextures[side]);
        if (quantised) {
            glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_LUMINANCE16_ALPHA16, width, height, 0, GL_LUMINANCE_ALPHA,
                         GL_UNSIGNED_SHORT, (side == 0 ? mFrontQuantised : mBackQuantised).data());
        } else {
            const GLint format = VConfiguration::mUseATI ? GL_RGBA16F_ARB : GL_FLOAT_RGBA16_NV;
            glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, format, width, height, 0, GL_RGBA, GL_FLOAT,
                         (side == 0 ? mFront : mBack).data());
        }
    }
    uploaded = true;
    return true;
}

void VImposterTexture::bind() {
    if (!uploaded && !upload()) return;
    const GLint filter = quantised ? GL_NEAREST : GL_LINEAR; // codes must not be blended
    for (int side = 0; side < 2; ++side) {
        ext::glActiveTextureARB(side == 0 ? GL_TEXTURE0_ARB : GL_TEXTURE1_ARB);
        glEnable(GL_TEXTURE_RECTANGLE_ARB);
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTextures[side]);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, filter);
    }
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    if (quantised && VConfiguration::mQuantShader) {
        // Uniforms go to the current program: make the quantised one current.
        GLint previous = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
        const GLuint program = VConfiguration::mQuantShader->id;
        ext::glUseProgram(program);
        ext::glUniform1f(ext::glGetUniformLocation(program, "delta"), (maxDepth - minDepth) / 65536.0f);
        ext::glUniform1f(ext::glGetUniformLocation(program, "minDepth"), minDepth);
        ext::glUseProgram(GLuint(previous));
    }
}

VTextureRGBA::~VTextureRGBA() = default;

void VTextureRGBA::setTextureUnit(int unit) {
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    mUnitValid = unit >= 0 && unit < units && unit <= 31;
    mUnit = unit;
    mUnitEnum = GLenum(GL_TEXTURE0 + (mUnitValid ? unit : 0));
}

bool VTextureRGBA::load() {
    deleteTextures();
    freeClientData();
    loaded = false;
    const QImage image(QString::fromStdString(fileName));
    if (image.isNull()) return false;
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    width = rgba.width();
    height = rgba.height();
    mPixels.resize(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        std::memcpy(&mPixels[size_t(y) * width * 4], rgba.constScanLine(y), size_t(width) * 4);
    loaded = hasClientData = true;
    return true;
}

bool VTextureRGBA::upload() {
    if (!hasClientData) {
        logErr() << "Error using VTextureRGBA! Call load() before using initialise() or useTexture()!\n";
        return false;
    }
    deleteTextures();
    glGenTextures(1, &mTexture);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, mPixels.data());
    uploaded = true;
    return true;
}

void VTextureRGBA::bind() {
    if (!mUnitValid) return;
    if (!uploaded && !upload()) return;
    // Enabling is state of the active unit, and parameters belong to the
    // bound texture: select the unit first, bind, then set.
    ext::glActiveTextureARB(mUnitEnum);
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexture);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

void VTextureRGBA::freeClientData() {
    mPixels = {};
    VTexture::freeClientData();
}

void VTextureRGBA::deleteTextures() {
    if (mTexture) glDeleteTextures(1, &mTexture);
    mTexture = 0;
    VTexture::deleteTextures();
}

