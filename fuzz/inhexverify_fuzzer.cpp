// Any file into the Intel HEX verifier.
#include <cstdio>

#include "file_input.h"
#include "firmware/firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(fuzz_input_file(data, size), "r");
    if (f == nullptr) return 0;
    inhexverify(f);
    std::fclose(f);
    return 0;
}
