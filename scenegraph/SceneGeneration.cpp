#include "SceneGeneration.h"

#include "LogStream.h"
#include "VLinePyramid.h"
#include "VSkyBox.h"
#include "VSurfelModel.h"
#include "VTerrain.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {
constexpr float kWhite[4] = {1, 1, 1, 1}, kRed[4] = {1, 0, 0, 1};

// Rotation matrices, 3x3 column-major (element 3c + r).
using Rotation = std::array<double, 9>;

Rotation aboutX(double degrees) {
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    return {1, 0, 0, 0, c, s, 0, -s, c};
}

Rotation aboutY(double degrees) {
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    return {c, 0, -s, 0, 1, 0, s, 0, c};
}

Rotation times(const Rotation& a, const Rotation& b) {
    Rotation out{};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k) out[3 * c + r] += a[3 * k + r] * b[3 * c + k];
    return out;
}

// A node under the root, at (x, ground + height, z) when there is a terrain.
VSceneNode* placedNode(VSceneGraph& graph, const std::string& name, double x, double z, double height,
                       const Rotation& rotation) {
    const double at[3] = {x, graph.getTerrain() ? VTerrain::heightAt(x, z) + height : 0.0, z};
    VSceneNode* node = graph.createNode(at, rotation.data(), name);
    graph.root()->addChild(node);
    return node;
}

void createTextures(VResourceManager& resources, const std::string& folder) {
    const std::pair<const char*, const char*> textures[] = {
        {"Skybox back", "cloudy_noon_BK_256.png"}, {"Skybox down", "cloudy_noon_DN_256.png"},
        {"Skybox front", "cloudy_noon_FR_256.png"}, {"Skybox up", "cloudy_noon_UP_256.png"},
        {"Skybox right", "cloudy_noon_RT_256.png"}, {"Skybox left", "cloudy_noon_LF_256.png"},
        {"terrain", "terrain.png"}};
    for (const auto& [name, file] : textures)
        if (!resources.createTexture(name, folder + "/textures/" + file))
            logErr() << "missing scene image: " << folder << "/textures/" << file << "\n";
}

// 15 airplane models, five placements each, turned about the vertical from
// the model's base orientation (its nose along -z, lying flat).
void placeAirplanes(VSceneGraph& graph, uint32_t seed, const std::string& folder) {
    std::mt19937 random(seed);
    auto below = [&random](uint32_t n) { return int(random() % n); };
    const Rotation base = aboutX(-90);
    const std::string model = folder + "/meshes/boing747_hires.mvh";
    VResourceManager& resources = *graph.resourceManager();
    uint32_t k = 1;
    for (uint32_t i = 0; i < 15; ++i) {
        VSurfelModel* airplane = resources.createSurfelModel("Airplane " + std::to_string(i), model, false);
        for (int copy = 0; copy < 5; ++copy, ++k) {
            const Rotation turn = times(aboutY(below(180)), base);
            const double x = (below(480) - 240) * 0.1;
            const double z = (below(480) - 240) * 0.1;
            const double height = (below(10) - 5) * 0.1 + 1.5;
            VSceneNode* node = placedNode(graph, "Node " + std::to_string(k), x, z, height, turn);
            if (airplane) node->addGeometry(airplane);
        }
    }
}
} // namespace

std::string sceneContentFolder() {
    if (const char* set = std::getenv("MORVA_SCENE_CONTENT")) return set;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> candidates;
    if (!error)
        for (const char* up : {"data/scene", "../data/scene", "../../data/scene"})
            candidates.push_back(program.parent_path() / up);
    candidates.push_back("data/scene");
    for (const fs::path& folder : candidates)
        if (fs::is_directory(folder / "textures", error)) return fs::weakly_canonical(folder, error).string();
    return ".";
}

void generateScene(VSceneGraph& graph, uint32_t seed, const std::string& contentFolder) {
    VResourceManager& resources = *graph.resourceManager();
    createTextures(resources, contentFolder);
    graph.createTerrain("Sinus", "Terrain", seed, 1.0f, 8, -3, -3, 6, 6, false);
    placeAirplanes(graph, seed, contentFolder);

    const Rotation upright = aboutX(-90);
    const double ahead[3] = {0, 0, -10};
    VSceneNode* compass = graph.createNode(ahead, upright.data(), "Compass");
    compass->addGeometry(resources.createLinePyramid("compass", 0.075f, 0.075f, kWhite, kRed, false));
    graph.root()->addChild(compass);
    VSceneNode* predictor = placedNode(graph, "PredictorNode", 0, -10, 0.25, upright);
    predictor->addGeometry(resources.createLinePyramid("pyramide", 0.5f, 0.75f, kWhite, kRed, false));

    VSceneNode* background = graph.createNode("Background");
    graph.setBackground(background);
    const std::string sky = contentFolder + "/textures/cloudy_noon_";
    background->addGeometry(resources.createSkyBox(
        "Sky", {sky + "BK_256.png", sky + "FR_256.png", sky + "RT_256.png", sky + "LF_256.png", sky + "DN_256.png",
                sky + "UP_256.png"},
        10.0f, false));
}
