#include "ntfs/Volume_Geometry.h"

#include <bit>

namespace {

// Cluster sizes NTFS can be formatted with.
constexpr std::uint64_t Smallest_Cluster = 512;
constexpr std::uint64_t Largest_Cluster = 2u << 20;

// a * b, or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> Product(std::uint64_t a, std::uint64_t b) {
    std::uint64_t p = 0;
    if (__builtin_mul_overflow(a, b, &p)) return std::nullopt;
    return p;
}

}  // namespace

std::optional<std::uint64_t> Bytes_Per_Cluster_From_Mirror(std::uint64_t allocated_size, std::uint64_t last_vcn) {
    if (last_vcn == UINT64_MAX) return std::nullopt;
    const std::uint64_t clusters = last_vcn + 1;
    if (allocated_size % clusters != 0) return std::nullopt;
    const std::uint64_t size = allocated_size / clusters;
    if (!std::has_single_bit(size) || size < Smallest_Cluster || size > Largest_Cluster) return std::nullopt;
    return size;
}

std::optional<std::uint64_t> Entry_At_Log_Position(const Volume_Geometry& geometry, std::uint64_t target_vcn,
                                                   std::uint16_t cluster_index) {
    const std::uint64_t in_cluster = std::uint64_t{cluster_index} * Log_Cluster_Block_Size;
    if (in_cluster >= geometry.Bytes_Per_Cluster) return std::nullopt;
    const auto cluster_start = Product(target_vcn, geometry.Bytes_Per_Cluster);
    if (!cluster_start || *cluster_start > UINT64_MAX - in_cluster) return std::nullopt;
    const std::uint64_t offset = *cluster_start + in_cluster;
    if (offset % geometry.File_Record_Size != 0) return std::nullopt;
    return offset / geometry.File_Record_Size;
}

std::optional<std::uint64_t> Entry_Of_Log_Cluster(const Volume_Geometry& geometry, std::uint64_t target_vcn,
                                                  std::uint16_t cluster_index) {
    if (const auto entry = Entry_At_Log_Position(geometry, target_vcn, cluster_index)) return entry;
    const auto cluster_start = Product(target_vcn, geometry.Bytes_Per_Cluster);
    if (!cluster_start) return std::nullopt;
    return *cluster_start / geometry.File_Record_Size;
}

Log_Position Log_Position_Of_Entry(const Volume_Geometry& geometry, std::uint64_t entry_number) {
    // Entry numbers have 48 bits and records at most 4 KiB: no overflow.
    const std::uint64_t offset = Entry_Number_Of(entry_number) * geometry.File_Record_Size;
    return Log_Position{offset / geometry.Bytes_Per_Cluster,
                        offset % geometry.Bytes_Per_Cluster / Log_Cluster_Block_Size};
}
