// Both loaders read from a path, so each input is written to a file of this process first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

inline const std::string& FuzzInputPath() {
    static const std::string path = "/tmp/veldmark-fuzz-" + std::to_string(getpid());
    return path;
}

inline bool WriteFuzzInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(FuzzInputPath().c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}
