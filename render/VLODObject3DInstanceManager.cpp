#include "VLODObject3DInstanceManager.h"

#include "GLExtensions.h"
#include "ImpostorAtlasRenderer.h"
#include "LogStream.h"
#include "ShaderSets.h"
#include "SideFileStep.h"
#include "VConfiguration.h"
#include "VLODObject3D.h"

#include <cmath>

const TexelScale VLODObject3DInstanceManager::kAtlasScale{600.0 / (2.0 * std::tan(0.17453293)), 1.5, 1.0};

// Where an object's impostors went, and what to restore when a later step
// refuses the object.
struct VLODObject3DInstanceManager::Placement {
    ImpostorTree placed; // the object's tree with the corners in the atlas
    size_t atlas = 0;
    bool opened = false; // the atlas was opened for this object
    TextureSpace front, back; // the atlas's spaces before the object took its texels
    uint64_t freeTexels = 0;
};

VLODObject3DInstanceManager::VLODObject3DInstanceManager() { VInstanceShaders::setupShaders(); }

VLODObject3DInstanceManager::~VLODObject3DInstanceManager() { clear(); }

void VLODObject3DInstanceManager::setAtlasSize(uint32_t width, uint32_t height) {
    mAtlasWidth = width;
    mAtlasHeight = height;
}

bool VLODObject3DInstanceManager::loadObject(const std::string& fileName, const std::string& id) {
    VLODObject3D object;
    if (!object.read(fileName)) {
        logErr() << "cannot read " << fileName << ": " << object.lastError() << "\n";
        return false;
    }
    std::string error;
    if (!ensureImpostorsAndSideFiles(object, error)) {
        logErr() << "the impostors of " << fileName << " could not be made: " << error << "\n";
        return false;
    }
    return addObject(object, id);
}

bool VLODObject3DInstanceManager::addObject(const VLODObject3D& object, const std::string& id) {
    if (repository.count(id)) {
        logErr() << "object with id \"" << id << "\" is already in the repository!\n";
        return false;
    }
    const ImpostorTree& tree = object.mImpostorTree;
    Placement placement;
    const bool textured = tree.inum() > 0; // without impostors no atlas is needed
    if (!textured) placement.placed = tree;
    if (textured && !placeImpostors(tree, placement)) {
        logErr() << "object with id \"" << id << "\" not added: its impostors fit into no texture atlas\n";
        return false;
    }
    std::string error;
    if (textured) {
        logOut() << "init texture\n";
        const VTextureAtlas& atlas = *atlases[placement.atlas];
        logOut() << " free pixels left: " << atlas.freeTexels << "\nMax. Width: " << placement.placed.maxWidth
                 << "\nMax. Height: " << placement.placed.maxHeight << "\n"
                 << "texture ids: " << atlas.front << " " << atlas.back << "\n";
        ImpostorAtlasRenderer renderer;
        const bool copied = renderer.renderInto(object, placement.placed, 0, atlas.front, atlas.back, error);
        renderer.release();
        if (!copied) {
            logErr() << "object with id \"" << id << "\" not added: its impostor textures failed: " << error << "\n";
            undoPlacement(placement);
            return false;
        }
        logOut() << "ok, texture created\n";
    }
    logOut() << "create vbo object\n";
    auto representation = std::make_unique<VLODObject3DOOCViewer>();
    if (!representation->setUp(object, placement.placed, error)) {
        logErr() << "object with id \"" << id << "\" not added: its buffers failed: " << error << "\n";
        if (textured) undoPlacement(placement);
        return false;
    }
    logOut() << "ok, vbo created\n";
    representation->atlas = textured ? atlases[placement.atlas].get() : nullptr;
    repository[id] = std::move(representation);
    return true;
}

// The first atlas with more free texels than the impostors need and room
// for them, else a new one.
bool VLODObject3DInstanceManager::placeImpostors(const ImpostorTree& tree, Placement& placement) {
    const uint64_t area = tree.area(kAtlasScale);
    logOut() << "search for free texture\n";
    for (size_t a = 0; a < atlases.size(); ++a) {
        VTextureAtlas& atlas = *atlases[a];
        logOut() << "free texels in atlas " << a << ": " << atlas.freeTexels << "\n";
        if (atlas.freeTexels <= area) continue;
        placement.front = atlas.frontSpace;
        placement.back = atlas.backSpace;
        placement.freeTexels = atlas.freeTexels;
        if (!tree.pack(atlas.frontSpace, atlas.backSpace, kAtlasScale, placement.placed)) continue;
        atlas.freeTexels = atlas.backSpace.freeTexels();
        placement.atlas = a;
        logOut() << "free texture found\n";
        return true;
    }
    logOut() << "no free texture found, create a new one\n";
    if (!openAtlas(placement)) return false;
    VTextureAtlas& atlas = *atlases[placement.atlas];
    if (!tree.pack(atlas.frontSpace, atlas.backSpace, kAtlasScale, placement.placed)) {
        logErr() << "the impostors need " << area << " texels (the largest " << placement.placed.maxWidth << "x"
                 << placement.placed.maxHeight << ") and do not fit into an empty atlas of " << mAtlasWidth << "x"
                 << mAtlasHeight << " texels\n";
        undoPlacement(placement);
        return false;
    }
    atlas.freeTexels = atlas.backSpace.freeTexels();
    return true;
}

namespace {
// Sets every texel of a texture to (0, 0, 0, 0), which the billboards read
// as empty, so that filtering at an impostor's border never picks up
// undefined memory. False when the format cannot be rendered into.
bool clearTexture(GLuint texture) {
    GLint previous = 0;
    GLfloat clearColour[4];
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previous);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    GLuint framebuffer = 0;
    ext::glGenFramebuffersEXT(1, &framebuffer);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    ext::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_RECTANGLE_ARB, texture, 0);
    const bool complete = ext::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
    if (complete) {
        glPushAttrib(GL_SCISSOR_BIT);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glPopAttrib();
    }
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GLuint(previous));
    ext::glDeleteFramebuffersEXT(1, &framebuffer);
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    return complete;
}
} // namespace

bool VLODObject3DInstanceManager::openAtlas(Placement& placement) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_ARB, &largest);
    if (mAtlasWidth > uint32_t(largest) || mAtlasHeight > uint32_t(largest)) {
        logErr() << "a texture atlas of " << mAtlasWidth << "x" << mAtlasHeight
                 << " texels is larger than the driver's largest rectangle texture (" << largest << ")\n";
        return false;
    }
    auto atlas = std::make_unique<VTextureAtlas>();
    // Half floats: normals and depth need no more for display.
    const GLint format = VConfiguration::mUseATI ? GL_RGBA_FLOAT16_ATI : GL_FLOAT_RGBA16_NV;
    while (glGetError() != GL_NO_ERROR) {
    }
    glPushAttrib(GL_TEXTURE_BIT);
    for (GLuint* texture : {&atlas->front, &atlas->back}) {
        glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, *texture);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, format, GLsizei(mAtlasWidth), GLsizei(mAtlasHeight), 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
    }
    glPopAttrib();
    const bool made = glGetError() == GL_NO_ERROR && clearTexture(atlas->front) && clearTexture(atlas->back);
    if (!made) {
        logErr() << "the driver refuses a texture atlas of " << mAtlasWidth << "x" << mAtlasHeight
                 << " half-float texels\n";
        deleteAtlas(*atlas);
        return false;
    }
    atlas->frontSpace.reset(mAtlasWidth, mAtlasHeight);
    atlas->backSpace.reset(mAtlasWidth, mAtlasHeight);
    atlas->freeTexels = atlas->backSpace.freeTexels();
    placement.atlas = atlases.size();
    placement.opened = true;
    atlases.push_back(std::move(atlas));
    return true;
}

// An atlas opened for the object goes again; an existing one gets its
// texels back (what was drawn there is overwritten by whoever takes them).
void VLODObject3DInstanceManager::undoPlacement(const Placement& placement) {
    VTextureAtlas& atlas = *atlases[placement.atlas];
    if (placement.opened) {
        deleteAtlas(atlas);
        atlases.erase(atlases.begin() + std::ptrdiff_t(placement.atlas));
        return;
    }
    atlas.frontSpace = placement.front;
    atlas.backSpace = placement.back;
    atlas.freeTexels = placement.freeTexels;
}

void VLODObject3DInstanceManager::deleteAtlas(VTextureAtlas& atlas) {
    for (GLuint* texture : {&atlas.front, &atlas.back})
        if (*texture) glDeleteTextures(1, texture);
    atlas.front = atlas.back = 0;
}

VLODObject3DInstance* VLODObject3DInstanceManager::createInstance(const std::string& id) {
    const auto found = repository.find(id);
    if (found == repository.end()) {
        logErr() << "object with id \"" << id << "\" not found in repository!\n";
        return nullptr;
    }
    auto& list = instances[found->second.get()];
    list.push_back(std::make_unique<VLODObject3DInstance>());
    list.back()->object = found->second.get();
    return list.back().get();
}

void VLODObject3DInstanceManager::setError(float error) {
    for (auto& [representation, list] : instances)
        for (auto& instance : list) instance->error = error;
}

void VLODObject3DInstanceManager::clear() {
    instances.clear();
    repository.clear();
    for (auto& atlas : atlases) deleteAtlas(*atlas);
    atlases.clear();
}

void VLODObject3DInstanceManager::reloadShaders() { VInstanceShaders::reloadShaders(); }

// --- Drawing -------------------------------------------------------------------

namespace {
const float kOutline[3] = {0.1f, 0.1f, 0.1f};

void multiply(const float a[16], const float b[16], float out[16]) {
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += double(a[4 * k + row]) * b[4 * column + k];
            out[4 * column + row] = float(sum);
        }
}

// The camera, then the instance's matrix, then its scale.
void instanceModelView(const InstanceView& view, const VLODObject3DInstance& instance, float modelView[16]) {
    float model[16];
    for (int k = 0; k < 16; ++k) model[k] = k < 12 ? instance.matrix[k] * instance.scale : instance.matrix[k];
    multiply(view.viewMatrix, model, modelView);
}

// The CPU selection of an instance: the model-view divided by its scale,
// so that eye depths come out in object units and the normal's cosine
// unscaled, which is how the vertex program reads a scaled instance.
SelectionView selectionViewOf(const float modelView[16], double projectionConstant, float error) {
    SelectionView view;
    const double scale = std::sqrt(double(modelView[0]) * modelView[0] + double(modelView[1]) * modelView[1] +
                                   double(modelView[2]) * modelView[2]);
    for (int k = 0; k < 16; ++k) view.modelView[k] = scale > 0 ? float(modelView[k] / scale) : modelView[k];
    view.e2 = double(error) * error;
    view.Q = error;
    view.P = projectionConstant * projectionConstant;
    return view;
}

using Instances = std::vector<const VLODObject3DInstance*>;

// All billboards of every instance, each instance's own cut chosen by the
// program from its error; colour the instance's, or outline when given.
void drawBillboardPass(const VLODObject3DOOCViewer& representation, const Instances& shown, const InstanceView& view,
                       VLODShaderProgram& program, const float* outline) {
    program.enable();
    if (program.front_tex >= 0) ext::glUniform1i(program.front_tex, 0);
    if (program.back_tex >= 0) ext::glUniform1i(program.back_tex, 1);
    const float P = float(view.projectionConstant * view.projectionConstant);
    representation.bindBillboardBuffers(true);
    for (const VLODObject3DInstance* instance : shown) {
        float modelView[16];
        instanceModelView(view, *instance, modelView);
        glLoadMatrixf(modelView);
        ext::glUniform1f(program.sq_proj_const, P);
        ext::glUniform1f(program.sq_image_error, instance->error * instance->error);
        ext::glUniform1f(program.sq_texture_scale_error, instance->error);
        glColor3fv(outline ? outline : instance->color);
        representation.drawAllBillboards();
    }
    representation.unbindBillboardBuffers(true);
    program.disable();
}

// The patches of each instance's CPU cut; the cuts are kept for the
// outline pass.
void drawTrianglePass(VLODObject3DOOCViewer& representation, const Instances& shown, const InstanceView& view,
                      std::vector<ImpostorSelection>& cuts, InstanceDrawCounts& counts) {
    cuts.resize(shown.size());
    VInstanceShaders::triangle->enable();
    representation.bindTriangleBuffers(false);
    for (size_t k = 0; k < shown.size(); ++k) {
        float modelView[16];
        instanceModelView(view, *shown[k], modelView);
        glLoadMatrixf(modelView);
        representation.selectCut(selectionViewOf(modelView, view.projectionConstant, shown[k]->error), cuts[k]);
        glColor3fv(shown[k]->color);
        counts.billboards += cuts[k].validImposters.size();
        counts.triangles += representation.drawArcs(cuts[k].validArcs);
    }
    representation.unbindTriangleBuffers();
    VInstanceShaders::triangle->disable();
}

void drawPatchOutlines(const VLODObject3DOOCViewer& representation, const Instances& shown, const InstanceView& view,
                       const std::vector<ImpostorSelection>& cuts) {
    VInstanceShaders::wireframe->enable();
    representation.bindTriangleBuffers(false);
    glColor3fv(kOutline);
    for (size_t k = 0; k < shown.size(); ++k) {
        float modelView[16];
        instanceModelView(view, *shown[k], modelView);
        glLoadMatrixf(modelView);
        representation.drawArcs(cuts[k].validArcs);
    }
    representation.unbindTriangleBuffers();
    VInstanceShaders::wireframe->disable();
}

void bindAtlas(const VTextureAtlas& atlas) {
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, atlas.front);
    ext::glActiveTextureARB(GL_TEXTURE1_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, atlas.back);
    ext::glActiveTextureARB(GL_TEXTURE0_ARB);
}
} // namespace

InstanceDrawCounts VLODObject3DInstanceManager::drawInstances(const InstanceView& view) {
    InstanceDrawCounts counts;
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glEnable(GL_DEPTH_TEST);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    Instances shown;
    std::vector<ImpostorSelection> cuts;
    for (auto& [representation, list] : instances) {
        shown.clear();
        for (const auto& instance : list)
            if (instance->visible) shown.push_back(instance.get());
        if (shown.empty()) continue;
        counts.instances += shown.size();
        const bool billboards = representation->atlas && representation->billboardCount() > 0;
        if (billboards) {
            bindAtlas(*representation->atlas);
            // The fragment stage gives its texels the colour's alpha.
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            drawBillboardPass(*representation, shown, view, *VInstanceShaders::billboard, nullptr);
            glDisable(GL_BLEND);
        }
        drawTrianglePass(*representation, shown, view, cuts, counts);
        if (!view.wireframe) continue;
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        if (billboards) drawBillboardPass(*representation, shown, view, *VInstanceShaders::billboardWireframe, kOutline);
        drawPatchOutlines(*representation, shown, view, cuts);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    return counts;
}
