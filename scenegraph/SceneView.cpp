#include "SceneView.h"

#include "LogStream.h"

#include <GL/glu.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

VCameraPose poseOf(const Vec3f& eye, const Vec3f& centre, const Vec3f& up) {
    VCameraPose pose;
    pose.position = Vec3d(eye);
    pose.direction = normalizeOrZ(Vec3d(centre) - Vec3d(eye));
    const Vec3d side = cross(pose.direction, Vec3d(up));
    pose.up = normalizeOrZ(cross(side, pose.direction));
    return pose;
}
} // namespace

bool SceneView::open(const std::string& path, const SceneViewOptions& options, std::string& error) {
    mOptions = options;
    mInitialised = false;
    mGraph = std::make_unique<VSceneGraph>(nullptr);
    {
        const LogCapture quiet; // the reader's progress lines are not the tool's output
        if (!mGraph->load(path)) {
            error = lastLineOf(quiet.text());
            if (error.empty()) error = "not a scene file";
            mGraph.reset();
            return false;
        }
    }
    return mFramebuffer.create(options.width, options.height, error);
}

VTraversalContext SceneView::context(const VCameraPose& camera, double zNear, double zFar) const {
    VTraversalContext context;
    context.camera = &camera;
    const double aspect = double(mOptions.width) / mOptions.height;
    context.frustum.set(camera, zNear, zFar, mOptions.fovDegrees, aspect);
    context.projectionConstant = mOptions.height / (2 * std::tan(mOptions.fovDegrees * M_PI / 360));
    context.simplificationError = context.silhouetteError = mOptions.errorPixels;
    context.cullFrustum = mOptions.cull;
    context.wireframe = mOptions.wireframe;
    return context;
}

SceneFrame SceneView::draw(const Vec3f& eye, const Vec3f& centre, const Vec3f& up) {
    const VCameraPose camera = poseOf(eye, centre, up);
    const BoundingSphere& s = mGraph->root()->globalSphere();
    const double reach = length(Vec3d(eye) - Vec3d(s.x, s.y, s.z)) + s.r;
    const double zNear = 0.05, zFar = std::max(100.0, 2 * reach);
    VTraversalContext frame = context(camera, zNear, zFar);
    SceneFrame result;
    {
        const LogCapture quiet; // per-frame lines of the hierarchies
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(mOptions.fovDegrees, double(mOptions.width) / mOptions.height, zNear, zFar);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const GLfloat headlight[4] = {0, 0, 1, 0}; // in eye space: it follows the camera
        glLightfv(GL_LIGHT0, GL_POSITION, headlight);
        gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, camera.up.x, camera.up.y, camera.up.z);
        if (!mInitialised) {
            mGraph->initGeometries(frame);
            mInitialised = true;
        }
        // The walk alone: what traversal and culling cost without drawing.
        VTraversalContext walk = frame;
        walk.skipGeometry = true;
        VDrawStatistics ignored;
        auto start = std::chrono::steady_clock::now();
        mGraph->draw(walk, ignored);
        result.traversalMs = millisecondsSince(start);

        glClearColor(170 / 255.0f, 170 / 255.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL); // as the view: the sky box lies on the far plane
        start = std::chrono::steady_clock::now();
        mGraph->draw(frame, result.statistics);
        glFinish(); // the frame's time includes the drawing itself
        result.drawMs = millisecondsSince(start);
    }
    return result;
}
