// Writes the sample hierarchies kept in tests/data. Run it again only when
// the file format changes on purpose; the tests compare against these files.

#include "SphereHierarchy.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_test_data OUTPUT_DIRECTORY\n";
        return 1;
    }
    const std::string dir = argv[1];
    const std::pair<const char*, SphereHierarchyOptions> samples[] = {
        {"icosphere2.mvh", {2, 1, true}}, {"icosphere1-keyframes3.mvh", {1, 3, true}}, {"icosahedron.mvh", {0, 1, false}}};
    for (const auto& [name, options] : samples) {
        VLODObject3D object;
        makeSphereHierarchy(object, options);
        if (!object.write(dir + "/" + name)) return 1;
    }
    return 0;
}
