#include "heap_meter.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void* Added(void* block) {
    if (!block)
        return nullptr;
    const int64_t now = gLive.fetch_add(static_cast<int64_t>(malloc_usable_size(block))) +
                        static_cast<int64_t>(malloc_usable_size(block));
    int64_t peak = gPeak.load(std::memory_order_relaxed);
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void Removed(void* block) {
    if (block)
        gLive.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)));
}

int64_t StatusKilobytes(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    int64_t kb = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            std::sscanf(line + n + 1, "%ld", &kb);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

} // namespace

extern "C" {

void* malloc(size_t size) {
    return Added(__libc_malloc(size));
}

void free(void* block) {
    Removed(block);
    __libc_free(block);
}

void* calloc(size_t count, size_t size) {
    return Added(__libc_calloc(count, size));
}

void* realloc(void* block, size_t size) {
    const int64_t before = block ? static_cast<int64_t>(malloc_usable_size(block)) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0)
        gLive.fetch_sub(before);
    return Added(moved);
}

void* memalign(size_t alignment, size_t size) {
    return Added(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
    return Added(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = Added(__libc_memalign(alignment, size));
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}

void* valloc(size_t size) {
    return Added(__libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size));
}

} // extern "C"

namespace heap_meter {

int64_t Live() {
    return gLive.load();
}

int64_t Peak() {
    return gPeak.load();
}

void ResetPeak() {
    gPeak.store(gLive.load());
}

int64_t Resident() {
    return StatusKilobytes("VmRSS") * 1024;
}

int64_t ResidentPeak() {
    return StatusKilobytes("VmHWM") * 1024;
}

void ResetResidentPeak() {
    // "5" resets the high-water mark to the present resident size (Linux 4.0 and later).
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

} // namespace heap_meter
