// The scene content generator as scripts/scene-content.sh runs it: the files
// the built-in scenes name, sky faces that meet at their shared edges, a
// ground texture that tiles, and meshes the importer takes without turning a
// triangle.

#include "TestFiles.h"
#include "VObject3D.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {
// Generated once per test program; empty when the generator failed.
const std::string& contentDir() {
    static const std::string dir = [] {
        const std::string out = tempPath("scene-content");
        const std::string command = "python3 '" MORVA_SOURCE_DIR "/scripts/make_scene_content.py' '" + out + "'";
        return std::system(command.c_str()) == 0 ? out : std::string();
    }();
    return dir;
}

QImage texture(const std::string& name) {
    return QImage(QString::fromStdString(contentDir() + "/textures/" + name)).convertToFormat(QImage::Format_RGB32);
}

// Mean absolute channel difference between column (or row) a of one image and
// column (or row) b of another, both 256 pixels long.
double lineDifference(const QImage& one, int a, const QImage& other, int b, bool columns) {
    double sum = 0;
    for (int k = 0; k < 256; ++k) {
        const QRgb p = columns ? one.pixel(a, k) : one.pixel(k, a);
        const QRgb q = columns ? other.pixel(b, k) : other.pixel(k, b);
        sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
    return sum / (3 * 256);
}
} // namespace

TEST(SceneContent, ImagesLoadAndSkyFacesMeetAtTheirEdges) {
    ASSERT_FALSE(contentDir().empty()) << "the generator failed";
    for (const char* face : {"BK", "DN", "FR", "UP", "RT", "LF"}) {
        const QImage image = texture(std::string("cloudy_noon_") + face + "_256.png");
        EXPECT_EQ(image.size(), QSize(256, 256)) << face;
    }
    const QImage front = texture("cloudy_noon_FR_256.png"), right = texture("cloudy_noon_RT_256.png");
    const QImage back = texture("cloudy_noon_BK_256.png"), up = texture("cloudy_noon_UP_256.png");
    // Looking at the front, the right face continues its right edge and the
    // up face its top edge; the back face's left edge meets the right's right.
    EXPECT_LT(lineDifference(front, 255, right, 0, true), 4.0);
    EXPECT_LT(lineDifference(right, 255, back, 0, true), 4.0);
    EXPECT_LT(lineDifference(front, 0, up, 255, false), 4.0);

    const QImage ground = texture("terrain.png");
    ASSERT_TRUE(ground.size() == QSize(256, 256) || ground.size() == QSize(512, 512)) << ground.width();
    // Tiles: the last column lies next to the first no worse than any neighbours.
    const int last = ground.width() - 1;
    EXPECT_LT(lineDifference(ground, last, ground, 0, true), 1.5 * lineDifference(ground, 127, ground, 128, true));
}

TEST(SceneContent, MeshesImportConsistentlyOriented) {
    ASSERT_FALSE(contentDir().empty()) << "the generator failed";
    struct Case {
        const char* file;
        bool closed;
        uint32_t parts; // 0: any number
    };
    const Case cases[] = {{"meshes/boing747_hires.ply", true, 1},
                          {"test/M_TREE4_branches.ply", true, 0},
                          {"test/M_TREE4_leafs.ply", false, 0},
                          {"test/plane1_ih_c2.ply", false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CapturedLog log;
        VObject3D mesh;
        ASSERT_TRUE(mesh.importFile(contentDir() + "/" + c.file)) << mesh.lastError();
        EXPECT_GE(mesh.triangles.size(), 2000u);
        EXPECT_LE(mesh.triangles.size(), 40000u);
        const MeshEdgeStatistics& edges = mesh.edgeStatistics();
        EXPECT_EQ(edges.swappedTriangles, 0u);
        EXPECT_EQ(edges.overfullEdges, 0u);
        if (c.parts) {
            EXPECT_EQ(edges.parts, c.parts);
        }
        if (!c.closed) continue;
        EXPECT_EQ(edges.borderEdges, 0u);
        // Outwards: counter-clockwise seen from outside encloses positive volume.
        double volume = 0;
        for (const VTriangle& t : mesh.triangles) {
            const Vec3d a(mesh.vertices[t.v[0]]->evaluate(0)), b(mesh.vertices[t.v[1]]->evaluate(0)),
                c3(mesh.vertices[t.v[2]]->evaluate(0));
            volume += dot(a, cross(b, c3));
        }
        EXPECT_GT(volume, 0.0);
    }
}
