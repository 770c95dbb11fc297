#include "VTerrain.h"

#include "LogStream.h"
#include "SceneFileText.h"
#include "SceneObjectId.h"
#include "ShaderSets.h"
#include "GLExtensions.h"
#include "VResourceManager.h"
#include "VSceneNode.h"
#include "VSceneTexture.h"
#include "VTerrainPatch.h"

#include <cmath>
#include <cstdlib>

VTerrain::VTerrain(VSceneGraph& graph) : mGraph(&graph), mId(nextSceneObjectId()) {}

VTerrain::VTerrain(VSceneGraph& graph, const std::string& name, const std::string& kindName, uint32_t seed,
                   float edge, uint32_t patchSize, int32_t beginX, int32_t beginZ, uint32_t countX, uint32_t countZ,
                   bool useVBO)
    : mGraph(&graph), mName(name), mId(nextSceneObjectId()), mUseVBO(useVBO), mKind(kindOf(kindName)) {
    applySettings(seed, edge, patchSize);
    generate(beginX, beginZ, countX, countZ);
}

VTerrain::~VTerrain() = default;

float VTerrain::heightAt(double x, double z) { return float(0.5 * std::sin(x) * std::sin(z)); }

VTerrain::Kind VTerrain::kindOf(const std::string& kindName) {
    return kindName == "Sinus" ? kSinus : kindName == "Fractal" ? kFractal : kPlain;
}

void VTerrain::applySettings(uint32_t seed, float edge, uint32_t patchSize) {
    mSeed = seed;
    mEdge = edge;
    mPatchSize = patchSize;
    mValid = edge > 0 && std::isfinite(edge) && patchSize >= 1 && patchSize <= kMaxPatchSize;
    std::srand(seed);
}

void VTerrain::generate(int32_t beginX, int32_t beginZ, uint32_t countX, uint32_t countZ) {
    mNodes.clear();
    mPatches.clear();
    if (!mValid) return;
    if (!mGraph || countX == 0 || countZ == 0 || countX > kMaxPatchesPerSide || countZ > kMaxPatchesPerSide) {
        mValid = false;
        return;
    }
    mBegin[0] = beginX, mBegin[1] = beginZ;
    mCount[0] = countX, mCount[1] = countZ;
    for (uint32_t row = 0; row < countZ; ++row)
        for (uint32_t column = 0; column < countX; ++column) makePatch(beginX + int32_t(column), beginZ + int32_t(row));
}

// One patch, its heights sampled at the world positions of its grid points,
// under a node at its centre.
void VTerrain::makePatch(int32_t column, int32_t row) {
    const double side = double(mPatchSize) * mEdge;
    const double centreX = column * side + side / 2, centreZ = row * side + side / 2;
    auto patch = std::make_unique<VTerrainPatch>("", mEdge, mPatchSize, mUseVBO);
    for (uint32_t j = 0; j <= mPatchSize; ++j)
        for (uint32_t i = 0; i <= mPatchSize; ++i)
            patch->setHeight(i, j, heightAt(centreX - side / 2 + i * double(mEdge), centreZ - side / 2 + j * double(mEdge)));
    patch->init(VTraversalContext()); // arrays and sphere now: the node's sphere needs them
    const double translation[3] = {centreX, 0, centreZ};
    auto node = std::make_unique<VSceneNode>("");
    node->setTranslation(translation);
    node->addGeometry(patch.get());
    mNodes.push_back(std::move(node));
    mPatches.push_back(std::move(patch));
}

void VTerrain::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (!mValid) return;
    VResourceManager* manager = VResourceManager::current();
    VSceneTexture* texture = manager ? manager->getTexture("terrain") : nullptr;
    if (!texture) {
        logErr() << "terrain " << mName << ": no texture named \"terrain\", the terrain is not drawn\n";
        mValid = false;
        return;
    }
    texture->bind();
    VShaderProgram* program = VViewShaders::terrain;
    if (program) {
        program->enable();
        ext::glUniform1i(ext::glGetUniformLocation(program->id, "terrain_tex"), texture->unit());
    }
    for (const std::unique_ptr<VSceneNode>& node : mNodes) node->draw(context, statistics);
    if (program) program->disable();
}

void VTerrain::initGeometries(const VTraversalContext& context) {
    for (const std::unique_ptr<VSceneNode>& node : mNodes) node->initGeometries(context);
}

void VTerrain::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    out << mName << "\n" << mId << "\nseed value:\n" << mSeed << "\nedge length:\n" << mEdge << "\npatch size:\n"
        << mPatchSize << "\nbegin at positions:\n" << mBegin[0] << "\n" << mBegin[1] << "\nhow many patches:\n"
        << mCount[0] << "\n" << mCount[1] << "\nuse VBO for rendering:\n";
    scenefile::writeFlag(out, mUseVBO);
}

void VTerrain::read(std::istream& in, bool& ok) {
    mNodes.clear();
    mPatches.clear();
    uint32_t seed = 0, patchSize = 0, count[2] = {0, 0};
    float edge = 0;
    int32_t begin[2] = {0, 0};
    scenefile::readLine(in, mName, ok);
    scenefile::readValue(in, mId, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, seed, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, edge, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, patchSize, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, begin[0], ok);
    scenefile::readValue(in, begin[1], ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, count[0], ok);
    scenefile::readValue(in, count[1], ok);
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, mUseVBO, ok);
    if (!ok) return;
    // Every patch is generated at once: a file may not ask for more than a
    // sane grid.
    if (count[0] > kMaxPatchesPerSide || count[1] > kMaxPatchesPerSide || patchSize > kMaxPatchSize) {
        logErr() << "terrain " << mName << ": " << count[0] << " x " << count[1] << " patches of " << patchSize
                 << " cells are more than " << kMaxPatchesPerSide << " x " << kMaxPatchesPerSide << " of "
                 << kMaxPatchSize << "\n";
        ok = false;
        return;
    }
    applySettings(seed, edge, patchSize);
    generate(begin[0], begin[1], count[0], count[1]);
}
