// One fuzzer: libFuzzer's entry calling the entry function the build names (NV_FUZZ_ENTRY).
#include <cstddef>
#include <cstdint>

#include "fuzz/entries/NvFuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nv::fuzz::NV_FUZZ_ENTRY(data, size);
    return 0;
}
