#include "SceneFileText.h"

#include <limits>

namespace scenefile {

void usePrecision(std::ostream& out) { out.precision(std::numeric_limits<double>::max_digits10); }

void readLine(std::istream& in, std::string& line, bool& ok) {
    if (!ok) return;
    if (!std::getline(in, line)) {
        ok = false;
        return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back(); // files edited elsewhere
}

void skipLabel(std::istream& in, bool& ok) {
    std::string line;
    readLine(in, line, ok);
}

void expectLine(std::istream& in, const std::string& expected, bool& ok) {
    std::string line;
    readLine(in, line, ok);
    if (ok && line != expected) ok = false;
}

namespace {
template <typename T> void readOne(std::istream& in, T& value, bool& ok) {
    if (!ok) return;
    if (!(in >> value)) {
        ok = false;
        return;
    }
    std::string rest;
    std::getline(in, rest);
}

template <typename T> void readMany(std::istream& in, T* values, int count, bool& ok) {
    if (!ok) return;
    for (int k = 0; k < count; ++k)
        if (!(in >> values[k])) {
            ok = false;
            return;
        }
    std::string rest;
    std::getline(in, rest);
}

template <typename T> void writeMany(std::ostream& out, const T* values, int count) {
    for (int k = 0; k < count; ++k) out << (k ? " " : "") << values[k];
    out << "\n";
}
} // namespace

void readValue(std::istream& in, float& value, bool& ok) { readOne(in, value, ok); }
void readValue(std::istream& in, double& value, bool& ok) { readOne(in, value, ok); }
void readValue(std::istream& in, uint32_t& value, bool& ok) {
    // A minus sign would wrap into a huge count.
    if (ok && (in >> std::ws).peek() == '-') ok = false;
    readOne(in, value, ok);
}
void readValue(std::istream& in, int32_t& value, bool& ok) { readOne(in, value, ok); }

void readNumbers(std::istream& in, float* values, int count, bool& ok) { readMany(in, values, count, ok); }
void readNumbers(std::istream& in, double* values, int count, bool& ok) { readMany(in, values, count, ok); }
void writeNumbers(std::ostream& out, const float* values, int count) { writeMany(out, values, count); }
void writeNumbers(std::ostream& out, const double* values, int count) { writeMany(out, values, count); }

void writeFlag(std::ostream& out, bool value) { out << (value ? "true" : "false") << "\n"; }

void readFlag(std::istream& in, bool& value, bool& ok) {
    std::string line;
    readLine(in, line, ok);
    if (ok) value = line == "true";
}

} // namespace scenefile
