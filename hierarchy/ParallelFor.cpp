#include "ParallelFor.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

void parallelFor(size_t count, const std::function<void(size_t begin, size_t end)>& body, size_t minPerThread) {
    const size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    const size_t pieces = std::clamp<size_t>(count / std::max<size_t>(minPerThread, 1), 1, hardware);
    if (pieces == 1) {
        if (count > 0) body(0, count);
        return;
    }
    std::vector<std::exception_ptr> failures(pieces);
    auto run = [&](size_t piece) {
        try {
            body(count * piece / pieces, count * (piece + 1) / pieces);
        } catch (...) {
            failures[piece] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(pieces - 1);
    size_t piece = 1;
    try {
        for (; piece < pieces; ++piece) helpers.emplace_back(run, piece);
    } catch (const std::system_error&) {
        // No thread to be had: the caller runs the rest itself.
        for (; piece < pieces; ++piece) run(piece);
    }
    run(0);
    for (std::thread& helper : helpers) helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}
