#include "VWalkPath.h"

#include "FileBytes.h"
#include "SceneFileText.h"

#include <fstream>
#include <sstream>

namespace {
constexpr const char* kEntrySeparator = "---------------";

void writeVector(std::ostream& out, const Vec3d& v) {
    const double values[3] = {v.x, v.y, v.z};
    scenefile::writeNumbers(out, values, 3);
}

void readVector(std::istream& in, Vec3d& v, bool& ok) {
    double values[3] = {0, 0, 0};
    scenefile::readNumbers(in, values, 3, ok);
    v = Vec3d(values[0], values[1], values[2]);
}
} // namespace

void VWalkPath::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    out << "Repeat?:\n";
    scenefile::writeFlag(out, repeat);
    out << "reference orientation:\n";
    for (int row = 0; row < 3; ++row) {
        const double values[3] = {referenceOrientation[row], referenceOrientation[row + 3], referenceOrientation[row + 6]};
        scenefile::writeNumbers(out, values, 3);
    }
    out << "number of entries:\n" << entries.size() << "\n";
    out << "entries:\n";
    for (const VWalkPathEntry& e : entries) {
        out << kEntrySeparator << "\n" << e.time << "\n" << e.speed << "\n";
        writeVector(out, e.position);
        writeVector(out, e.direction);
        writeVector(out, e.up);
    }
}

void VWalkPath::read(std::istream& in, bool& ok) {
    scenefile::skipLabel(in, ok);
    scenefile::readFlag(in, repeat, ok);
    scenefile::skipLabel(in, ok);
    for (int row = 0; row < 3; ++row) {
        double values[3] = {0, 0, 0};
        scenefile::readNumbers(in, values, 3, ok);
        for (int column = 0; column < 3; ++column) referenceOrientation[row + 3 * column] = values[column];
    }
    uint32_t count = 0;
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, count, ok);
    scenefile::skipLabel(in, ok);
    // Entries grow as they are read, so a hostile count allocates nothing:
    // a file that ends early fails at its end.
    entries.clear();
    for (uint32_t k = 0; ok && k < count; ++k) {
        VWalkPathEntry e;
        scenefile::expectLine(in, kEntrySeparator, ok);
        scenefile::readValue(in, e.time, ok);
        scenefile::readValue(in, e.speed, ok);
        readVector(in, e.position, ok);
        readVector(in, e.direction, ok);
        readVector(in, e.up, ok);
        if (ok) entries.push_back(e);
    }
}

bool VWalkPath::save(const std::string& fileName) const {
    std::ostringstream out;
    writeClassName(out);
    write(out);
    std::string error; // written whole and renamed into place, or not at all
    return writeFileAtomically(fileName, out.str(), error);
}

bool VWalkPath::load(const std::string& fileName, std::string& error) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        error = "cannot open " + fileName;
        return false;
    }
    if (load(in, error)) return true;
    error = fileName + error;
    return false;
}

bool VWalkPath::load(std::istream& in, std::string& error) {
    bool ok = true;
    scenefile::expectLine(in, kClassName, ok);
    if (!ok) {
        error = std::string(" is no camera path: it does not start with ") + kClassName;
        return false;
    }
    VWalkPath fresh;
    fresh.read(in, ok);
    if (!ok) {
        error = " ends early or holds something else than a camera path's entries";
        return false;
    }
    *this = std::move(fresh);
    return true;
}
