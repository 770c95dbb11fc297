// Feeds arbitrary bytes to the scene file reader. Whatever the bytes, the
// reader must either refuse them, leaving the scene it had untouched, or
// accept a tree: every node reached from the root at most once, every child
// pointing back at its parent. An accepted scene must also write, read back
// and write again to the same text. Image and hierarchy files named by the
// input are never opened.

#include "FuzzCheck.h"
#include "LogStream.h"
#include "VSceneGraph.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <set>
#include <sstream>
#include <string>

namespace {
std::ostream& silentStream() {
    static std::ostream stream(nullptr);
    return stream;
}

std::string textOf(const VSceneGraph& graph) {
    std::ostringstream out;
    out << VSceneGraph::kFileHeader << "\n1\n";
    graph.write(out);
    return out.str();
}

// Walks down from node; each node at most once, each child naming its parent.
void checkSubtree(const VSceneNode& node, std::set<const VSceneNode*>& seen) {
    FUZZ_CHECK(seen.insert(&node).second);
    for (const auto& [name, child] : node.children()) {
        FUZZ_CHECK(child->parent() == &node);
        FUZZ_CHECK(child->name() == name);
        checkSubtree(*child, seen);
    }
}

void checkTree(const VSceneGraph& graph) {
    FUZZ_CHECK(graph.root() != nullptr);
    FUZZ_CHECK(graph.root()->parent() == nullptr);
    std::set<const VSceneNode*> seen;
    checkSubtree(*graph.root(), seen);
    FUZZ_CHECK(seen.size() <= graph.nodeCount());
    if (graph.background()) FUZZ_CHECK(graph.getNode(graph.background()->id()) == graph.background());
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setLogOut(&silentStream());
    setLogErr(&silentStream());
    VSceneReadOptions noFiles;
    noFiles.loadFiles = false;

    VSceneGraph graph(nullptr);
    graph.setReadOptions(noFiles);
    const std::string before = textOf(graph);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    if (!graph.load(in)) {
        FUZZ_CHECK(textOf(graph) == before);
        checkTree(graph);
        return 0;
    }
    checkTree(graph);
    const std::string written = textOf(graph);
    VSceneGraph again(nullptr);
    again.setReadOptions(noFiles);
    std::istringstream back(written);
    FUZZ_CHECK(again.load(back));
    checkTree(again);
    FUZZ_CHECK(textOf(again) == written);
    return 0;
}
