// The configuration panel in a real window: every setting reaches the
// configuration or the view it names, the error field gives the view its
// bound at once while the frustum waits for "Apply Changes", and a change
// of the settings that shape side files rebuilds those of the file in view;
// a hierarchy made by an import goes with its side files when closed.

#include "DragonHierarchy.h"
#include "TestFiles.h"
#include "VConfiguration.h"
#include "VGLWidget.h"
#include "VHVApp.h"
#include "VHVView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

namespace {
template <typename T> T* control(const VHVView& panel, const QString& name) {
    for (T* widget : panel.findChildren<T*>())
        if (widget->objectName() == name || widget->property("text").toString() == name) return widget;
    return nullptr;
}

void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

TEST(Panel, EverySettingReachesWhatItNames) {
    VHVApp window;
    const VHVView& panel = *window.panel();
    struct Choice {
        const char* combo;
        const char* item;
        std::function<bool()> holds;
    };
    const Choice choices[] = {
        {"Size Type:", "8x4", [] { return VConfiguration::mImpostorSizeType == 0 && VConfiguration::mImpostorWidth == 8 && VConfiguration::mImpostorHeight == 4; }},
        {"Size Type:", "64 Imposters", [] { return VConfiguration::mImpostorSizeType == 1 && VConfiguration::mNumImpostors == 64; }},
        {"Cluster Algorithm:", "spatial", [] { return VConfiguration::mClusterAlgorithm == 3; }},
        {"Prefetch Strategy:", "direction dependend", [] { return VConfiguration::mPrefetchStrategy == 2; }},
        {"Prefetch Strategy:", "no prefetching", [] { return VConfiguration::mPrefetchStrategy == 0; }},
        {"Texture Resolution:", "x16", [] { return VConfiguration::mTextureResolution == 2; }},
        {"Texture Compression:", "dequantise in Shader", [] { return VConfiguration::mTextureCompression == 2; }},
        {"Size Type:", "16x16", [] { return VConfiguration::mImpostorSizeType == 0 && VConfiguration::mImpostorWidth == 16; }},
        {"Cluster Algorithm:", "post order", [] { return VConfiguration::mClusterAlgorithm == 0; }},
        {"Prefetch Strategy:", "k parents & children", [] { return VConfiguration::mPrefetchStrategy == 1; }},
        {"Texture Resolution:", "x1", [] { return VConfiguration::mTextureResolution == 0; }},
        {"Texture Compression:", "no compression", [] { return VConfiguration::mTextureCompression == 0; }},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE(std::string(c.combo) + " " + c.item);
        QComboBox* box = control<QComboBox>(panel, c.combo);
        ASSERT_NE(box, nullptr);
        box->setCurrentIndex(box->findText(c.item));
        EXPECT_TRUE(c.holds());
    }
    control<QCheckBox>(panel, "use out-of-core")->setChecked(false);
    EXPECT_FALSE(VConfiguration::mUseOutOfCore);
    control<QCheckBox>(panel, "use out-of-core")->setChecked(true);
    EXPECT_TRUE(VConfiguration::mUseOutOfCore);

    VGLWidget& view = *window.view();
    control<QCheckBox>(panel, "Motion Prediction")->setChecked(false);
    control<QCheckBox>(panel, "Show Predictor")->setChecked(true);
    control<QCheckBox>(panel, "Show Compass")->setChecked(false);
    control<QCheckBox>(panel, "Show Boundingsphere")->setChecked(true);
    const VGLWidget::HudSwitches hud = view.hudSwitches();
    EXPECT_FALSE(hud.motionPrediction);
    EXPECT_TRUE(hud.showPredictor);
    EXPECT_FALSE(hud.showCompass);
    EXPECT_TRUE(hud.showBoundingSphere);
}

TEST(Panel, TheErrorAppliesAtOnceAndTheFrustumOnApply) {
    VHVApp window;
    window.show();
    VGLWidget& view = *window.view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const VHVView& panel = *window.panel();
    QPushButton* apply = control<QPushButton>(panel, "Apply Changes");
    ASSERT_NE(apply, nullptr);

    type(control<QLineEdit>(panel, "Near Plane:"), "0.5");
    type(control<QLineEdit>(panel, "Back Plane:"), "200");
    control<QSpinBox>(panel, "Opening Angle:")->setValue(90);
    EXPECT_TRUE(apply->isEnabled());
    EXPECT_EQ(view.fovDegrees(), 20.0f) << "before Apply";
    QTest::mouseClick(apply, Qt::LeftButton);
    EXPECT_EQ(view.nearPlane(), 0.5f);
    EXPECT_EQ(view.farPlane(), 200.0f);
    EXPECT_EQ(view.fovDegrees(), 90.0f);
    EXPECT_FALSE(apply->isEnabled());

    // Pixels, and the bound per unit of distance: e * 2 tan(angle / 2) / height.
    type(control<QLineEdit>(panel, "Global Error:"), "3e-3");
    const double height = view.height() * view.devicePixelRatio();
    EXPECT_FLOAT_EQ(view.simplificationErrorPixels(), 3e-3f);
    EXPECT_NEAR(panel.errorBound(), 3e-3 * 2 * std::tan(M_PI / 4) / height, 1e-12);
    type(control<QLineEdit>(panel, "Silhouette Error:"), "4");
    EXPECT_FLOAT_EQ(view.silhouetteErrorPixels(), 4.0f);
    EXPECT_FLOAT_EQ(view.simplificationErrorPixels(), 3e-3f);
    // Below the silhouette field's range: refused as typed.
    type(control<QLineEdit>(panel, "Silhouette Error:"), "0.5");
    EXPECT_FLOAT_EQ(view.silhouetteErrorPixels(), 4.0f);
}

TEST(Panel, ASettingThatShapesSideFilesRebuildsThoseInView) {
    const std::string copy = tempPath("panel-icosphere.mvh");
    writeBytes(copy, readBytes(testDataPath("icosphere2.mvh")));
    VHVApp window;
    window.show();
    ASSERT_TRUE(window.openFile(QString::fromStdString(copy)));
    std::string mv2 = copy;
    mv2.replace(mv2.size() - 4, 4, ".mv2");
    auto stampOnDisk = [&] {
        std::vector<uint8_t> bytes = readBytes(mv2);
        bytes.resize(std::min<size_t>(bytes.size(), VConfiguration::configurationSize()));
        return bytes;
    };
    ASSERT_EQ(stampOnDisk(), VConfiguration::configurationStamp());
    QComboBox* sizes = control<QComboBox>(*window.panel(), "Size Type:");
    sizes->setCurrentIndex(sizes->findText("8x8"));
    EXPECT_EQ(stampOnDisk(), VConfiguration::configurationStamp()) << "the side files were not rebuilt";
    EXPECT_TRUE(window.view()->hasObject());
    sizes->setCurrentIndex(sizes->findText("16x16"));

    // Made by an import: closing deletes it with its side files.
    std::string error;
    ASSERT_TRUE(window.panel()->setFileName(QString::fromStdString(copy), true, error));
    window.slotFileClose();
    EXPECT_FALSE(window.view()->hasObject());
    for (const char* extension : {".mvh", ".mv2", ".mv3"}) {
        std::string file = copy;
        file.replace(file.size() - 4, 4, extension);
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
    }
}

// Impostors far away keep their textures when the cache is made after the
// hierarchy was opened (they came from the hierarchy's own store before).
TEST(Panel, ACacheMadeAfterOpeningServesTheImpostors) {
    MORVA_SKIP_WITHOUT_DRAGON();
    ASSERT_FALSE(dragonHierarchy().empty()) << "morva build failed";
    VHVApp window;
    window.show();
    ASSERT_TRUE(window.openFile(QString::fromStdString(dragonHierarchy())));
    VGLWidget& view = *window.view();
    ASSERT_EQ(view.textureCache(), nullptr);
    const BoundingSphere& s = view.object().mBoundingSphere;
    view.setCamera(Vec3f(s.x, s.y, s.z + 40 * s.r), s.centre(), {0, 1, 0});
    view.setErrorPixels(2);
    view.grabFramebuffer(); // the first frame asks for the textures
    const QImage before = view.grabFramebuffer();
    ASSERT_GT(view.lastFrame().impostors, 0u);
    QTest::mouseClick(control<QPushButton>(*window.panel(), "Resize Cache!"), Qt::LeftButton);
    ASSERT_NE(view.textureCache(), nullptr);
    view.grabFramebuffer();
    EXPECT_EQ(view.grabFramebuffer(), before);
}
} // namespace
