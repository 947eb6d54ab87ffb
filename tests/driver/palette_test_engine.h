// A stand-in engine for the colour, shade and depth tests: malloc-backed
// memory slots that count live blocks and can be told to fail.
#pragma once

#include <cstdlib>
#include <cstring>
#include <set>

#include <zlib.h>

#include "driver/core/palette_memory.h"
#include "driver/records.h"

namespace palette_test {

// CRC-32 of a table: a whole table checked against the value worked out once.
inline uint32_t Crc(const void* p, size_t n) {
    return static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

struct TestEngine {
    EngineServices services{};
    std::set<void*> live;
    long allocations = 0;
    long frees = 0;
    long bad_frees = 0;
    long fail_after = -1;  // allocations that still succeed; -1 = never fail
    size_t last_request = 0;

    static TestEngine*& Current() {
        static TestEngine* current = nullptr;
        return current;
    }

    bool ShouldFail() {
        if (fail_after < 0) return false;
        if (fail_after == 0) return true;
        --fail_after;
        return false;
    }

    static void* Allocate(size_t size) {
        TestEngine* e = Current();
        e->last_request = size;
        if (e->ShouldFail()) return nullptr;
        void* p = std::malloc(size ? size : 1);
        e->live.insert(p);
        ++e->allocations;
        return p;
    }
    static void* AllocateZeroed(size_t count, size_t size) {
        void* p = Allocate(count * size);
        if (p) std::memset(p, 0, count * size);
        return p;
    }
    static void* Reallocate(void* old, size_t size) {
        TestEngine* e = Current();
        if (e->ShouldFail()) return nullptr;
        if (old && !e->live.count(old)) {
            ++e->bad_frees;
            return nullptr;
        }
        void* p = std::realloc(old, size ? size : 1);
        if (!p) return nullptr;
        if (old) e->live.erase(old);
        e->live.insert(p);
        if (!old) ++e->allocations;
        return p;
    }
    static void Free(void* p) {
        TestEngine* e = Current();
        if (!p) return;
        if (!e->live.erase(p)) {
            ++e->bad_frees;  // never handed out, or freed twice: do not touch it
            return;
        }
        ++e->frees;
        std::free(p);
    }

    TestEngine() {
        services.allocate = &Allocate;
        services.allocate_zeroed = &AllocateZeroed;
        services.reallocate = &Reallocate;
        services.free = &Free;
        Current() = this;
        PaletteBindEngine(&services);
    }
    ~TestEngine() {
        for (void* p : live) std::free(p);
        if (Current() == this) Current() = nullptr;
        PaletteBindEngine(nullptr);
    }
    TestEngine(const TestEngine&) = delete;
    TestEngine& operator=(const TestEngine&) = delete;
};

}  // namespace palette_test
