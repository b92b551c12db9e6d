// Movable memory blocks with Win32's meanings, shared by the library and its hosts.
//
// A handle is an opaque number that the registry maps to its block, so a null,
// freed or foreign handle is recognised (and refused) without being dereferenced.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "qrv.h"

namespace {

struct Block {
    void *data = nullptr;
    size_t size = 0;
    unsigned locks = 0;
    bool fixed = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, Block> blocks;
    uintptr_t nextHandle = 0x1000; // movable handles; never a valid data address alignment
};

Registry &registry() {
    static Registry *instance = new Registry; // outlives every static destructor
    return *instance;
}

} // namespace

extern "C" {

HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes) {
    void *data = nullptr;
    if (bytes > 0) {
        data = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
        if (!data) return nullptr;
    } else if (!(flags & GMEM_MOVEABLE)) {
        return nullptr; // a fixed block needs an address
    }
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    Block block{data, bytes, 0, !(flags & GMEM_MOVEABLE)};
    uintptr_t handle;
    if (block.fixed) {
        handle = reinterpret_cast<uintptr_t>(data); // Win32: a fixed block's handle is its address
    } else {
        // Odd values can never be malloc'd addresses, so movable and fixed handles
        // never collide.
        handle = (r.nextHandle += 2) | 1u;
    }
    r.blocks.emplace(handle, block);
    return reinterpret_cast<HGLOBAL>(handle);
}

void *GlobalLock(HGLOBAL handle) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.blocks.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.blocks.end() || !it->second.data) return nullptr;
    if (!it->second.fixed) ++it->second.locks;
    return it->second.data;
}

int32_t GlobalUnlock(HGLOBAL handle) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.blocks.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.blocks.end() || it->second.locks == 0) return 0;
    return static_cast<int32_t>(--it->second.locks);
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    if (!handle) return nullptr;
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.blocks.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.blocks.end()) return handle;
    std::free(it->second.data);
    r.blocks.erase(it);
    return nullptr;
}

size_t GlobalSize(HGLOBAL handle) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.blocks.find(reinterpret_cast<uintptr_t>(handle));
    return it == r.blocks.end() ? 0 : it->second.size;
}

} // extern "C"
