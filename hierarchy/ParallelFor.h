#pragma once
// Splits an index range into one contiguous piece per hardware thread and
// runs them at once. For the independent per-element loops of the set-up
// after reading a hierarchy (normal quantization, cones, node bounds), which
// the viewer waits on when it opens a file.

#include <cstddef>
#include <functional>

// body(begin, end) for pieces covering [0, count); each piece holds at least
// minPerThread indices, so short loops run on the caller alone. An exception
// thrown by a piece is rethrown here once every piece has ended.
void parallelFor(size_t count, const std::function<void(size_t begin, size_t end)>& body,
                 size_t minPerThread = 1024);
