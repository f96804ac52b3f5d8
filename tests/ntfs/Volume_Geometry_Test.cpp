// The place of a FILE record in the units of a log record header, both ways,
// on volumes of other cluster and record sizes than 4 KiB and 1 KiB.
#include <gtest/gtest.h>

#include <optional>

#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/Volume_Geometry.h"
#include "support/Mft_Record_Builder.h"

using namespace test_support;

namespace {

TEST(Volume_Geometry, EntryAndPlaceBothWays) {
    struct Case {
        const char* what;
        Volume_Geometry geometry;
        std::uint64_t vcn;
        std::uint16_t cluster_index;
        std::optional<std::uint64_t> entry;
    };
    const std::optional<std::uint64_t> none;
    const Case cases[] = {
        {"4 KiB clusters, 1 KiB records", {4096, 1024}, 10, 6, 43},
        {"4 KiB: an odd block is inside a record", {4096, 1024}, 10, 3, none},
        {"4 KiB: block 8 is past the cluster", {4096, 1024}, 10, 8, none},
        {"512-byte clusters: the root", {512, 1024}, 10, 0, 5},
        {"512-byte clusters: an odd VCN is a record's second half", {512, 1024}, 11, 0, none},
        {"512-byte clusters: block 1 is past the cluster", {512, 1024}, 10, 1, none},
        {"2 KiB clusters", {2048, 1024}, 16, 2, 33},
        {"2 KiB: block 1 is inside a record", {2048, 1024}, 16, 1, none},
        {"4 KiB records", {4096, 4096}, 70, 0, 70},
        {"4 KiB records: block 2 is inside a record", {4096, 4096}, 70, 2, none},
        {"4 KiB records on 512-byte clusters", {512, 4096}, 16, 0, 2},
        {"a VCN whose offset passes 64 bits", {4096, 1024}, 1ull << 53, 0, none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Entry_At_Log_Position(c.geometry, c.vcn, c.cluster_index), c.entry) << c.what;
        if (!c.entry) continue;
        const Log_Position back = Log_Position_Of_Entry(c.geometry, *c.entry);
        EXPECT_EQ(back.Vcn, c.vcn) << c.what;
        EXPECT_EQ(back.Cluster_Index, c.cluster_index) << c.what;
    }
    // Without an entry at the place, the first record of the cluster stands
    // for the record changed.
    EXPECT_EQ(Entry_Of_Log_Cluster({4096, 1024}, 10, 3), 40u);
    EXPECT_EQ(Entry_Of_Log_Cluster({512, 1024}, 11, 0), 5u);
    EXPECT_EQ(Entry_Of_Log_Cluster({4096, 1024}, 1ull << 53, 0), std::nullopt);
}

TEST(Volume_Geometry, ClusterSizeFromTheMirrorsData) {
    struct Case {
        std::uint64_t allocated, last_vcn;
        std::optional<std::uint64_t> bytes_per_cluster;
    };
    const std::optional<std::uint64_t> none;
    const Case cases[] = {
        {4096, 7, 512}, {4096, 0, 4096}, {4096, 1, 2048}, {2u << 20, 0, 2u << 20},
        {4u << 20, 0, none},  // larger than NTFS clusters get
        {4096, 15, none},     // 256
        {4096, 2, none},      // not exact
        {3072, 0, none},      // not a power of two
        {4096, UINT64_MAX, none},
        {0, 0, none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Bytes_Per_Cluster_From_Mirror(c.allocated, c.last_vcn), c.bytes_per_cluster)
            << c.allocated << " / " << c.last_vcn << " + 1";
}

// $MFTMirr (entry 1) holds the first four records: 4 KiB allocated over as
// many clusters as that takes.
Mft_Record_Builder Mirror(std::size_t record_size, std::uint64_t clusters, std::uint64_t allocated) {
    return Mft_Record_Builder(record_size)
        .Standard_Information(1)
        .File_Name(Mft_Reference(5, 5), u"$MFTMirr")
        .Non_Resident(0x80, {}, allocated, allocated / clusters);
}

TEST(Volume_Geometry, TheIndexTakesTheSizesOfItsMft) {
    struct Case {
        const char* what;
        std::size_t record_size;
        std::optional<Mft_Record_Builder> mirror;
        Volume_Geometry expected;
    };
    const Case cases[] = {
        {"512-byte clusters", 1024, Mirror(1024, 8, 4096), {512, 1024}},
        {"2 KiB clusters", 1024, Mirror(1024, 2, 4096), {2048, 1024}},
        {"4 KiB records", 4096, Mirror(4096, 4, 16384), {4096, 4096}},
        {"no mirror", 1024, std::nullopt, {4096, 1024}},
        {"a mirror of 3 clusters in 4 KiB", 1024, Mirror(1024, 3, 4095), {4096, 1024}},
    };
    for (const Case& c : cases) {
        Mft_Image_Builder image(c.record_size);
        Put_Volume_Skeleton(image, c.record_size);
        if (c.mirror) image.Put(1, *c.mirror);
        Global_Parsing_Context context;
        Index_MFT_Bytes(context, image.Build());
        EXPECT_EQ(context.Mft.Geometry().Bytes_Per_Cluster, c.expected.Bytes_Per_Cluster) << c.what;
        EXPECT_EQ(context.Mft.Geometry().File_Record_Size, c.expected.File_Record_Size) << c.what;
    }
}

}  // namespace
