// The file parsers take a path: fuzz inputs go through one private temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline const char* fuzz_input_file(const uint8_t* data, size_t size) {
    static std::string path;
    if (path.empty()) {
        char name[] = "/tmp/qspan-fuzz-XXXXXX";
        int fd = mkstemp(name);  // -1 on failure
        if (fd < 0) std::abort();
        close(fd);
        path = name;
        std::atexit([] { unlink(path.c_str()); });
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path.c_str();
}
