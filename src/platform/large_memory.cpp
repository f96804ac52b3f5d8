#include "platform/large_memory.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>

namespace platform {

namespace {

constexpr std::size_t Huge_Page_Bytes = std::size_t{1} << 21;

std::size_t Rounded(std::size_t bytes) { return (bytes + Huge_Page_Bytes - 1) / Huge_Page_Bytes * Huge_Page_Bytes; }

std::atomic<std::size_t> g_Mapped_Bytes{0};

}  // namespace

void* Map_Large_Memory(std::size_t bytes) {
    // Mapped one huge page longer, then cut to start on a huge-page
    // boundary, which huge pages need.
    const std::size_t length = Rounded(bytes);
    void* mapped = mmap(nullptr, length + Huge_Page_Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + Huge_Page_Bytes - 1) / Huge_Page_Bytes * Huge_Page_Bytes;
    if (aligned > start) munmap(mapped, aligned - start);
    const std::uintptr_t end = start + length + Huge_Page_Bytes;
    if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* memory = reinterpret_cast<void*>(aligned);
    // Only a hint: without huge pages the memory works the same.
    madvise(memory, length, MADV_HUGEPAGE);
    g_Mapped_Bytes += length;
    return memory;
}

void Unmap_Large_Memory(void* memory, std::size_t bytes) {
    if (memory == nullptr) return;
    munmap(memory, Rounded(bytes));
    g_Mapped_Bytes -= Rounded(bytes);
}

std::size_t Large_Memory_Mapped_Bytes() { return g_Mapped_Bytes; }

}  // namespace platform
