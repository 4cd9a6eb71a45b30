#include "osc/codec_allocation_hooks.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

thread_local long allocations = 0;
thread_local long liveBlocks = 0;
thread_local long failCountdown = 0;
thread_local bool refused = false;

void* allocate(std::size_t size, std::size_t alignment) {
    if (failCountdown > 0 && --failCountdown == 0) {
        refused = true;
        throw std::bad_alloc();
    }
    if (size == 0) size = 1;
    void* p = alignment > alignof(std::max_align_t)
                  ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                  : std::malloc(size);
    if (!p) throw std::bad_alloc();
    ++allocations;
    ++liveBlocks;
    if (failCountdown > 0) std::memset(p, 0, size);
    return p;
}

void deallocate(void* p) noexcept {
    if (p) --liveBlocks;
    std::free(p);
}

}  // namespace

namespace zelto::test::allocation {

long count() {
    return allocations;
}
long live() {
    return liveBlocks;
}
void failAt(long n) {
    failCountdown = n;
    refused = false;
}
bool failed() {
    return refused;
}

}  // namespace zelto::test::allocation

void* operator new(std::size_t size) {
    return allocate(size, 0);
}
void* operator new[](std::size_t size) {
    return allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* p) noexcept {
    deallocate(p);
}
void operator delete[](void* p) noexcept {
    deallocate(p);
}
void operator delete(void* p, std::size_t) noexcept {
    deallocate(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    deallocate(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    deallocate(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    deallocate(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    deallocate(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    deallocate(p);
}
