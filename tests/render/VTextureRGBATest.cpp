// Scene image textures: a picture written to disk comes back as RGBA bytes
// row by row from the top, reaches the chosen unit, and unusable units or
// files are refused.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "TestFiles.h"
#include "VTexture.h"

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

namespace {
// 3 x 2 pixels, each a different colour, the bottom right half transparent.
std::string writeTestImage(const std::string& name) {
    QImage image(3, 2, QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) image.setPixelColor(x, y, QColor(10 + x, 20 + y, 30 * (x + 1), y == 1 && x == 2 ? 128 : 255));
    const std::string path = tempPath(name);
    EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG"));
    return path;
}
} // namespace

TEST(TextureRGBA, LoadsUploadsAndBindsOnItsUnit) {
    VTextureRGBA texture(writeTestImage("rgba.png"));
    ASSERT_TRUE(texture.load());
    ASSERT_EQ(std::pair(texture.width, texture.height), std::pair(3, 2));
    EXPECT_EQ(texture.sizeInBytes(), 24u);
    const std::vector<uint8_t>& px = texture.pixels();
    ASSERT_EQ(px.size(), 24u);
    // Pixel (2, 1): last in the buffer, the half transparent one.
    EXPECT_EQ(std::vector<uint8_t>(px.begin() + 20, px.end()), (std::vector<uint8_t>{12, 21, 90, 128}));
    EXPECT_EQ(std::vector<uint8_t>(px.begin() + 4, px.begin() + 8), (std::vector<uint8_t>{11, 20, 60, 255}));

    // The context's state is shared with the other tests: put it back after.
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    ext::glActiveTextureARB(GL_TEXTURE1_ARB);
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    texture.setTextureUnit(1);
    ASSERT_TRUE(texture.unitValid());
    texture.bind(); // uploads first
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
    EXPECT_EQ(active, GL_TEXTURE1_ARB);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_RECTANGLE_ARB));
    GLint bound = 0, filter = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_RECTANGLE_ARB, &bound);
    EXPECT_EQ(GLuint(bound), texture.texture());
    // Filtering is set on this texture, not on whatever was bound before.
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
    texture.bind();
    glGetTexParameteriv(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
    std::vector<uint8_t> back(24, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(back, px);
    glPopAttrib();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(TextureRGBA, InvalidUnitsAndFilesAreRefused) {
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    VTextureRGBA texture(writeTestImage("units.png"));
    ASSERT_TRUE(texture.load());
    for (int unit : {-1, int(units)}) {
        texture.setTextureUnit(unit);
        EXPECT_FALSE(texture.unitValid()) << unit;
        texture.bind();
        EXPECT_FALSE(texture.uploaded) << "an unbindable texture is not uploaded";
    }

    CapturedLog log;
    VTextureRGBA missing(tempPath("no-such-image.png"));
    EXPECT_FALSE(missing.load());
    EXPECT_FALSE(missing.upload());
    EXPECT_NE(log.err().find("Error using VTextureRGBA! Call load() before"), std::string::npos);
}
