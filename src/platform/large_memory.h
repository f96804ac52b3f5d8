// Memory for arrays of hundreds of megabytes (the reloaded rows and the
// detection's indexes over them): mapped on its own, in huge pages where the
// system allows it, zero when first read, and handed back to the system when
// freed. Ten million rows filled into ordinary pages cost as much time in
// page faults and zeroing as in their own work; freed, they would stay with
// the process or be returned one small block at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace platform {

// Below this, memory comes from the ordinary heap.
inline constexpr std::size_t Large_Memory_Bytes = std::size_t{1} << 21;

// `bytes` of zeroed memory, mapped on their own (throws std::bad_alloc).
void* Map_Large_Memory(std::size_t bytes);
void Unmap_Large_Memory(void* memory, std::size_t bytes);
// The bytes mapped so and not yet unmapped, for the benchmarks.
std::size_t Large_Memory_Mapped_Bytes();

// A fixed array of zeroed elements of a trivial type, in memory of its own
// when large.
template <class T>
class Large_Array {
public:
    Large_Array() = default;
    explicit Large_Array(std::size_t size) : size_(size) {
        if (size == 0) return;
        if (Bytes() >= Large_Memory_Bytes) data_ = static_cast<T*>(Map_Large_Memory(Bytes()));
        else data_ = static_cast<T*>(::operator new(Bytes()));
        if (Bytes() < Large_Memory_Bytes) std::uninitialized_value_construct_n(data_, size_);
    }
    Large_Array(Large_Array&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    Large_Array& operator=(Large_Array&& other) noexcept {
        if (this != &other) {
            Release();
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    Large_Array(const Large_Array&) = delete;
    Large_Array& operator=(const Large_Array&) = delete;
    ~Large_Array() { Release(); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

private:
    std::size_t Bytes() const { return size_ * sizeof(T); }
    void Release() {
        if (data_ == nullptr) return;
        if (Bytes() >= Large_Memory_Bytes) Unmap_Large_Memory(data_, Bytes());
        else ::operator delete(data_);
        data_ = nullptr;
        size_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
};

// An allocator that takes large blocks from Map_Large_Memory, for vectors
// that grow to hundreds of megabytes.
template <class T>
struct Large_Allocator {
    using value_type = T;
    Large_Allocator() = default;
    template <class U>
    Large_Allocator(const Large_Allocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n * sizeof(T) >= Large_Memory_Bytes) return static_cast<T*>(Map_Large_Memory(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) >= Large_Memory_Bytes) Unmap_Large_Memory(p, n * sizeof(T));
        else std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const Large_Allocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using Large_Vector = std::vector<T, Large_Allocator<T>>;

}  // namespace platform
