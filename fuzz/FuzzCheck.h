#pragma once
// The fuzzers' checks: a failed one prints where and what, then aborts, so
// libFuzzer keeps the input like a crash. Independent of NDEBUG: the checks
// are the point of the fuzzer.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void failFuzzCheck(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : failFuzzCheck(#condition, __FILE__, __LINE__))
