#include "InstanceScene.h"

#include "GLExtensions.h"
#include "LogStream.h"

#include <GL/glu.h>

#include <chrono>
#include <cmath>

namespace {
// Colours apart from each other, so that neighbouring copies can be told apart.
void paletteColour(size_t k, float colour[3]) {
    const double hue = std::fmod(double(k) * 0.618033988749895, 1.0) * 6.0;
    const double x = 1 - std::abs(std::fmod(hue, 2.0) - 1);
    const double rgb[6][3] = {{1, x, 0}, {x, 1, 0}, {0, 1, x}, {0, x, 1}, {x, 0, 1}, {1, 0, x}};
    for (int c = 0; c < 3; ++c) colour[c] = float(0.35 + 0.55 * rgb[int(hue) % 6][c]);
}
} // namespace

InstanceScene::~InstanceScene() { release(); }

void InstanceScene::release() {
    mInstances.clear();
    mManager.reset();
    mFramebuffer.release();
}

bool InstanceScene::open(const std::string& path, const InstanceSceneOptions& options, std::string& error) {
    release();
    mOptions = options;
    {
        const LogCapture quiet; // the manager's progress lines are not the tool's output
        mManager = std::make_unique<VLODObject3DInstanceManager>();
        if (!mManager->loadObject(path, "object")) {
            error = lastLineOf(quiet.text());
            return false;
        }
    }
    for (int k = 0; k < options.count; ++k) mInstances.push_back(mManager->createInstance("object"));
    place();

    if (mFramebuffer.create(options.width, options.height, error)) return true;
    release();
    return false;
}

// Rows on the ground below the eye, from the nearest distance to the
// farthest, as square as the count allows; the camera looks a little down
// so that the near rows and the horizon both show.
void InstanceScene::place() {
    const VLODObject3DOOCViewer& object = *mManager->repository["object"];
    const BoundingSphere& s = object.traversal().mBoundingSphere;
    const size_t count = mInstances.size();
    const size_t rows = size_t(std::ceil(std::sqrt(double(count))));
    const size_t columns = rows ? (count + rows - 1) / rows : 0;
    const double spacing = 2.2 * s.r, ground = -0.5;
    mNearest = (columns - 1) / 2; // on the view axis
    for (size_t k = 0; k < count; ++k) {
        const size_t row = k / columns, column = k % columns;
        const double distance =
            rows > 1 ? mOptions.nearest + (mOptions.farthest - mOptions.nearest) * double(row) / double(rows - 1)
                     : mOptions.nearest;
        VLODObject3DInstance& instance = *mInstances[k];
        // The object's centre to its place on the grid.
        instance.matrix[12] = float((double(column) - double(mNearest)) * spacing - s.x);
        instance.matrix[13] = float(ground - s.y);
        instance.matrix[14] = float(-distance - s.z);
        instance.error = mOptions.errorPixels;
        paletteColour(k, instance.color);
    }
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    gluLookAt(0, 0, 0, 0, -std::tan(7.5 * M_PI / 180), -1, 0, 1, 0);
    glGetFloatv(GL_MODELVIEW_MATRIX, mCamera);
    glPopMatrix();
}

void InstanceScene::showNearestOnly(bool only) {
    for (size_t k = 0; k < mInstances.size(); ++k) mInstances[k]->visible = !only || k == mNearest;
}

InstanceFrame InstanceScene::draw() {
    const auto start = std::chrono::steady_clock::now();
    const double radius = mManager->repository["object"]->traversal().mBoundingSphere.r;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(mOptions.fovDegrees, double(mOptions.width) / mOptions.height, 0.05,
                   mOptions.farthest + 4 * radius);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat headlight[4] = {0, 0, 1, 0}; // in eye space: it follows the camera
    glLightfv(GL_LIGHT0, GL_POSITION, headlight);
    glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    InstanceView view;
    std::copy(mCamera, mCamera + 16, view.viewMatrix);
    view.projectionConstant = mOptions.height / (2 * std::tan(mOptions.fovDegrees * M_PI / 180 / 2));
    view.wireframe = mOptions.wireframe;
    InstanceFrame frame;
    frame.counts = mManager->drawInstances(view);
    glFinish(); // the frame's time includes the drawing itself
    frame.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return frame;
}

QImage InstanceScene::picture() const { return mFramebuffer.picture(); }
