// The run list (mapping pairs) of a non-resident attribute: where on the
// volume each run of its clusters lies.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One run: its first cluster on the volume and its length in clusters.
struct Data_Run {
    std::uint64_t Cluster = 0;
    std::uint64_t Length = 0;
};

// The runs of the mapping pairs in `pairs`. Each pair is a header byte (low
// nibble: bytes of the length, high nibble: bytes of the offset), then the
// length, then the offset, signed, from the cluster of the run before (the
// first from cluster 0); the running cluster wraps modulo 2^64.
//
// The list ends at a zero header byte, a header with a zero nibble (a sparse
// run ends it too), or a pair that does not wholly fit in `pairs`; the runs
// before it are kept. Only the low 8 bytes of a longer length count; an
// offset wider than 8 bytes is out of format and counts as 0. Each caller
// chooses its own range: the bytes it has, or a zero-filled buffer whose
// zeros end the list.
std::vector<Data_Run> Decode_Run_List(std::span<const std::uint8_t> pairs);

// The runs as "cluster(length),cluster(length)..." in decimal; "" for none.
std::u16string Run_List_Text(std::span<const Data_Run> runs);
