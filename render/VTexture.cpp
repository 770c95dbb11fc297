#include "VTexture.h"

#include "GLExtensions.h"
#include "LogStream.h"
#include "TexturesFile.h"
#include "VConfiguration.h"
#include "VShaderProgram.h"

#include <QImage>

#include <cstring>
#include <memory>


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

uint64_t impostorAtlasBytes(uint32_t width, uint32_t height, bool keepsCodes) {
    return uint64_t(width) * height * (keepsCodes ? 8 : 32);
}

uint32_t VImposterTexture::sizeInBytes() const {
    return uint32_t(impostorAtlasBytes(uint32_t(width), uint32_t(height), keepsCodes()));
}

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
    mFileCompressed = false;
    mError.clear();
}

bool VImposterTexture::fail(const std::string& message) {
    releaseAll();
    mError = message;
    return false;
}

// Reads this texture's directory entry, checked against the file's size.
bool VImposterTexture::readEntry(std::FILE* file, TexturesFileHeader& header, AtlasEntry& entry) {
    std::string error;
    if (index < 0) return fail("texture " + std::to_string(index) + " is not in the file's directory");
    if (!readTexturesHeader(file, header, error) || !readAtlasEntry(file, header, uint32_t(index), entry, error))
        return fail(error);
    if (entry.width > uint32_t(INT32_MAX) || entry.height > uint32_t(INT32_MAX))
        return fail("texture " + std::to_string(index) + " is too large");
    width = int32_t(entry.width);
    height = int32_t(entry.height);
    minDepth = entry.smallest;
    maxDepth = entry.largest;
    mFileCompressed = header.compressed();
    return true;
}

bool VImposterTexture::loadInfo(std::FILE* file) {
    releaseAll();
    TexturesFileHeader header;
    AtlasEntry entry;
    return readEntry(file, header, entry);
}

// The file's own mode decides how its texels are read; the configuration only
// decides whether compressed texels stay codes in memory.
bool VImposterTexture::load(std::FILE* file) {
    releaseAll();
    TexturesFileHeader header;
    AtlasEntry entry;
    if (!readEntry(file, header, entry)) return false;
    std::vector<uint16_t> frontCodes, backCodes;
    std::string error;
    if (!readAtlasSides(file, header, entry, mFront, mBack, frontCodes, backCodes, error)) return fail(error);
    if (header.compressed() && quantised) {
        mFrontQuantised = std::move(frontCodes);
        mBackQuantised = std::move(backCodes);
    } else if (header.compressed()) {
        decodeSide(frontCodes, entry, mFront);
        decodeSide(backCodes, entry, mBack);
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
        if (keepsCodes()) {
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
    const GLint filter = keepsCodes() ? GL_NEAREST : GL_LINEAR; // codes must not be blended
    for (int side = 0; side < 2; ++side) {
        ext::glActiveTextureARB(side == 0 ? GL_TEXTURE0_ARB : GL_TEXTURE1_ARB);
        glEnable(GL_TEXTURE_RECTANGLE_ARB);
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTextures[side]);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, filter);
    }
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    if (keepsCodes() && VConfiguration::mQuantShader) {
        // Uniforms go to the current program: make the quantised one current.
        GLint previous = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
        const GLuint program = VConfiguration::mQuantShader->id;
        ext::glUseProgram(program);
        ext::glUniform1f(ext::glGetUniformLocation(program, "delta"), (maxDepth - minDepth) / 65535.0f);
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

