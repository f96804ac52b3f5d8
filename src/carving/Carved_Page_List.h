// How the $LogFile carver rebuilds, from the record pages it found in an
// arbitrary file, the page list and replay order that the reader gets from a
// whole $LogFile: the normal page area with its holes filled, the runs of
// ascending LSN in LSN order, and the buffer pages before or after them.
//
// A carved file may hold a whole log (two restart pages), a log whose first
// restart page is lost (one), or only record pages (none); an image of
// several volumes holds a log of each. What a log's own restart pages say
// (version, log size, LSN layout) decides how its list is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "ntfs/logfile/LogFile_Walk.h"

// One log of a carved file: a run of restart pages (each one page after the
// one before) and the record pages after it, up to the next such run. A disk
// image of several volumes, or logs put together, holds several; the record
// pages before the first run belong to the first log.
struct Carved_Log {
    // The values of the run's last restart page (every restart page of a run
    // overwrites those of the one before); nullopt in a file without any.
    std::optional<Restart_Info> Restart;
    // The restart pages of the run, and where the first of them lies (0 when
    // there is none).
    std::uint64_t Restart_Page_Count = 0;
    std::uint64_t Base = 0;
    // Where the next log's restart pages begin: no page of this log reaches
    // past it. The largest value for the last log.
    std::uint64_t Next_Base = ~std::uint64_t{0};
    // Its record pages: Scanned_Page_Array[First_Page, First_Page + Page_Count).
    std::size_t First_Page = 0;
    std::size_t Page_Count = 0;
};

// What the page scan of one carved file found, besides the record pages it
// appended to Scanned_Page_Array: its logs in file order, at least one (one
// without restart page when the file holds none).
struct Carving_Scan {
    std::uint64_t File_Size = 0;
    std::vector<Carved_Log> Logs;
};

// The five ways of building the page list.
enum class Carving_Path {
    V11_Two_Restart_Pages = 1,
    V11_One_Restart_Page = 2,
    V20_Two_Restart_Pages = 3,
    V20_One_Restart_Page = 4,
    Without_Restart_Page = 5,  // no restart page, or one of another version
};

Carving_Path Choose_Carving_Path(const Carved_Log& log);

// Builds context.Replay_Page_Array (with Record_Page_Array, Carved_Page_Array
// and the older and newer buffer pages on the way) for one log of the scan
// from its pages of context.Scanned_Page_Array, reading pages that the scan
// did not list through `read_page`. The lists are expected empty. Returns the
// LSN shift that the walk over the list uses. The list stays empty when the
// log gives none (no record page, or a log without restart page holding
// fewer pages than a log needs).
//
// The normal area never reaches past the end of the file or into the next
// log, whatever log size a restart page claims, and a hole of it that was
// never written (a page of 0xFF bytes) gets no entry: the walk ends at such
// a page, which would hide every page replayed after it.
unsigned Build_Carved_Page_List(Global_Parsing_Context& context, const Carving_Scan& scan, const Carved_Log& log,
                                const Page_Reader& read_page);

// The first index i from which `run_length` consecutive scanned pages have
// non-decreasing file-offset parts of their last LSN (the LSN with its top
// `sequence_bits` bits cleared); 0 when no run of that length lies wholly
// inside `scanned`.
std::size_t Find_Ascending_Run_Start(std::span<const _page_info> scanned, std::size_t run_length,
                                     std::uint32_t sequence_bits);

// The LSN shift of a log without restart page, from the last place (from
// scanned page k on) where a last LSN drops: the smallest shift that puts the
// two LSNs of that drop into consecutive sequences, 24 when none does.
// Without a drop (or when it drops to 0), the bit width of the file-offset
// span of the scanned pages in 8-byte units, as a log that size needs.
unsigned Infer_Lsn_Shift(std::span<const _page_info> scanned, std::size_t k);
