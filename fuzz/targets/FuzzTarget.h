#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Each target is a libFuzzer entry point in the fuzzing build, and a plain function of its
// own name elsewhere, so the regression test can run the same code on the kept inputs.
#ifdef KELVANE_LIBFUZZER
#include "Product.h"
// Each fuzzing program serves the product as the application does.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Product::handToPlatform();
    return 0;
}
#define KELVANE_FUZZ_TARGET(name) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#else
#define KELVANE_FUZZ_TARGET(name) int fuzz##name(const std::uint8_t* data, std::size_t size)
#endif

inline std::string fuzzText(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
