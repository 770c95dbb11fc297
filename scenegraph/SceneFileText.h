#pragma once
// The scene file's line conventions, shared by every object that stores
// itself there: one value per line, labels skipped unread, vectors as
// "x y z", flags as "true"/"false". Numbers are written with every digit
// their type needs to come back unchanged (files with fewer digits still
// read). Every read takes an ok flag: nothing happens when it comes in
// false, and it turns false at the first failure.

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace scenefile {

// Full precision for float and double values written to out.
void usePrecision(std::ostream& out);

// A whole line (without its end).
void readLine(std::istream& in, std::string& line, bool& ok);
// A label line, read and not compared.
void skipLabel(std::istream& in, bool& ok);
// A line that must equal expected.
void expectLine(std::istream& in, const std::string& expected, bool& ok);

// One number, then the rest of its line.
void readValue(std::istream& in, float& value, bool& ok);
void readValue(std::istream& in, double& value, bool& ok);
void readValue(std::istream& in, uint32_t& value, bool& ok);
void readValue(std::istream& in, int32_t& value, bool& ok);

// Several numbers on one line, then the rest of it.
void readNumbers(std::istream& in, float* values, int count, bool& ok);
void readNumbers(std::istream& in, double* values, int count, bool& ok);
void writeNumbers(std::ostream& out, const float* values, int count);
void writeNumbers(std::ostream& out, const double* values, int count);

// "true" or "false"; any other line reads as false.
void writeFlag(std::ostream& out, bool value);
void readFlag(std::istream& in, bool& value, bool& ok);

} // namespace scenefile
