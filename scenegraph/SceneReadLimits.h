#pragma once
// Bounds for the counts a scene file gives before anything is allocated for
// them: every entry of a list takes at least its class-name line, so a
// count larger than the bytes left over that line's length cannot be true.

#include <cstdint>
#include <istream>
#include <string>

namespace scenefile {

// Shortest class-name line of any entry ("VSkyBox" and its newline).
constexpr uint64_t kShortestEntryBytes = 8;
// For streams that cannot tell their size.
constexpr uint64_t kLargestCountUnsized = 1u << 24;

// Bytes from the read position to the end; kLargestCountUnsized times the
// shortest entry when the stream cannot seek.
uint64_t bytesLeft(std::istream& in);

// Whether count entries fit into what is left of in; when not, writes
// "ERROR - <count> <what> cannot fit into the <n> bytes left!" to the error
// log.
bool countFits(std::istream& in, uint64_t count, const std::string& what);

} // namespace scenefile
