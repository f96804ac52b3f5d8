// Where a FILE record lies on its volume, in the units a $LogFile record
// header names it by: the target VCN (clusters into the $MFT) and the
// cluster index (512-byte blocks into that cluster).
//
// Both depend on the volume's own cluster and FILE-record sizes. A fixed
// "four 1 KiB records to a 4 KiB cluster" names the wrong entry on any other
// volume (512-byte clusters on small or old volumes, 4 KiB records on
// 4K-sector disks), so every conversion goes through the sizes the $MFT
// itself tells.
#pragma once

#include <cstdint>
#include <optional>

#include "ntfs/Ntfs_Layout.h"

struct Volume_Geometry {
    // What a volume formatted with the defaults has, and what is assumed
    // without an $MFT.
    std::uint64_t Bytes_Per_Cluster = 4096;
    std::uint64_t File_Record_Size = File_Record_Layout::Default_Size;
};

// The cluster index counts blocks of this many bytes: sectors, as the
// update sequence of a FILE record counts them.
inline constexpr std::uint64_t Log_Cluster_Block_Size = File_Record_Layout::Sector_Size;

// The cluster size that $MFTMirr's unnamed $DATA gives: its allocated size
// over (last VCN + 1). Nothing when that does not divide exactly or is not a
// power of two from 512 bytes to 2 MiB.
std::optional<std::uint64_t> Bytes_Per_Cluster_From_Mirror(std::uint64_t allocated_size, std::uint64_t last_vcn);

// The entry number of the FILE record at (target VCN, cluster index).
// Nothing when that byte offset is not the start of a record, when the
// cluster index reaches past the cluster, or when the offset does not fit
// in 64 bits.
std::optional<std::uint64_t> Entry_At_Log_Position(const Volume_Geometry& geometry, std::uint64_t target_vcn,
                                                   std::uint16_t cluster_index);

// The entry a change of the FILE record at (target VCN, cluster index) is
// about, for telling it apart from others: the entry there, or else the
// first record that starts in the target cluster. Nothing only when the
// cluster's offset does not fit in 64 bits.
std::optional<std::uint64_t> Entry_Of_Log_Cluster(const Volume_Geometry& geometry, std::uint64_t target_vcn,
                                                  std::uint16_t cluster_index);

// The (VCN, cluster index) of the FILE record of an entry number (its low
// 48 bits).
struct Log_Position {
    std::uint64_t Vcn = 0;
    std::uint64_t Cluster_Index = 0;
};
Log_Position Log_Position_Of_Entry(const Volume_Geometry& geometry, std::uint64_t entry_number);
