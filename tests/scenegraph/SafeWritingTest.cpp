// Files are written whole or not at all: when the disk refuses the rest of a
// new hierarchy, scene, camera path or frame-rate report (here: files may not
// grow past 64 bytes), the old file stays as it was and nothing half-written
// is left beside it; a read-only file is not replaced.

#include "FrameRateReport.h"
#include "TestFiles.h"
#include "VLODObject3D.h"
#include "VLineSphere.h"
#include "VSceneGraph.h"
#include "VWalkPath.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {
// Runs write while files may not grow past the limit; its result.
bool withFileSizeLimit(rlim_t bytes, const std::function<bool()>& write) {
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{}, limit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    limit = oldLimit;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = write();
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    return written;
}

VWalkPath pathOf(int entries) {
    VWalkPath path;
    for (int k = 0; k < entries; ++k) path.entries.push_back({k / 30.0, 2, {0, 0, 10.0 - k}, {0, 0, -1}, {0, 1, 0}});
    return path;
}

struct Writer {
    const char* what;
    std::function<bool(const std::string&)> writeOld, writeNew;
};

TEST(SafeWriting, AFileTheDiskRefusesLeavesTheOldOneIntact) {
    CapturedLog quiet;
    VLODObject3D small, larger;
    ASSERT_TRUE(small.read(testDataPath("icosahedron.mvh")));
    ASSERT_TRUE(larger.read(testDataPath("icosphere2.mvh")));
    const std::vector<float> one{1}, many(100, 60.0f);
    std::string error;
    const Writer writers[] = {
        {"hierarchy", [&](const std::string& f) { return small.write(f); },
         [&](const std::string& f) { return larger.write(f); }},
        {"scene", [](const std::string& f) { return VSceneGraph(nullptr).save(f); },
         [](const std::string& f) {
             VSceneGraph graph(nullptr);
             const float red[4] = {1, 0, 0, 1};
             VSceneNode* node = graph.createNode("ball");
             node->addGeometry(graph.resourceManager()->createLineSphere("ball", 0, 0, 0, 1, 8, 4, red, red, false));
             graph.root()->addChild(node);
             return graph.save(f);
         }},
        {"camera path", [](const std::string& f) { return pathOf(1).save(f); },
         [](const std::string& f) { return pathOf(50).save(f); }},
        {"frame-rate report", [&](const std::string& f) { return writeFrameRateReportFile(f, one, error); },
         [&](const std::string& f) { return writeFrameRateReportFile(f, many, error); }},
    };
    const fs::path folder = tempPath("safe-writing");
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.what);
        fs::remove_all(folder);
        fs::create_directories(folder);
        const std::string file = (folder / "file").string();
        ASSERT_TRUE(w.writeOld(file));
        const std::vector<uint8_t> old = readBytes(file);
        EXPECT_FALSE(withFileSizeLimit(64, [&] { return w.writeNew(file); }));
        EXPECT_EQ(readBytes(file), old);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a half-written file was left";
        ASSERT_TRUE(w.writeNew(file)); // and without the limit it is replaced
        EXPECT_NE(readBytes(file), old);
        // A file nobody may write is refused, even though a rename could replace it.
        ASSERT_TRUE(w.writeOld(file));
        const std::vector<uint8_t> kept = readBytes(file); // a scene's IDs differ from the first old one
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        EXPECT_FALSE(w.writeNew(file));
        EXPECT_EQ(readBytes(file), kept);
    }
    fs::remove_all(folder);
}
} // namespace
