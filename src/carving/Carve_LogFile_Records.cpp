#include "carving/Carve_LogFile_Records.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "db/Scoped_Transaction.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "platform/arithmetic.h"

namespace {

constexpr std::uint64_t Page = LogFile_Page_Size;
// Positions the scan tests: every sector.
constexpr std::uint64_t Sector = 512;
// The scan reads this many bytes at a time; the file is never held whole.
constexpr std::size_t Scan_Chunk_Size = 1 << 20;
// In quick mode, how far past a record page met before any restart page the
// scan goes on (a log is rarely larger).
constexpr std::uint64_t Quick_Record_Page_Window = 0x4000000;

// Each log of a file is rebuilt, walked and back-filled on its own, as the
// reader does with the log alone: the page lists of the log before, and its
// rows that the analysis looks back on, are put aside (the file's scanned
// pages stay).
void Start_Next_Log(Global_Parsing_Context& context) {
    context.Record_Page_Array.clear();
    context.Replay_Page_Array.clear();
    context.Carved_Page_Array.clear();
    context.Older_Buffer_Page_Array.clear();
    context.Newer_Buffer_Page_Array.clear();
    context.Page_Group_Array.clear();
    context.LogFile_Row_Array.clear();
    context.LogFile_Row_Lookup.Clear();
}

}  // namespace

Carving_Scan Scan_For_Log_Pages(const platform::Read_Only_File& file, bool quick, std::vector<_page_info>& scanned) {
    Carving_Scan scan;
    std::uint64_t limit = file.Size();
    bool window_set = false;
    // Where the last restart page lies: one right after it continues its run.
    std::optional<std::uint64_t> last_restart;
    const std::size_t first_page = scanned.size();
    const auto begin_log = [&](std::uint64_t base, std::size_t first) {
        Carved_Log log;
        log.Base = base;
        log.First_Page = first;
        scan.Logs.push_back(log);
    };
    // One chunk and room for a page that runs past its end; never more than
    // the file needs (small files are common).
    const std::uint64_t file_pages = file.Size() / Page + (file.Size() % Page != 0 ? 1 : 0);
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(Scan_Chunk_Size / Page, file_pages) * Page + Page));
    std::uint64_t start = 0;   // the file offset of buffer[0]
    std::size_t filled = 0;    // bytes of the file held from there
    bool at_end = false;       // the file (or what can be read of it) ends after them
    for (std::uint64_t p = 0;;) {
        if (quick && p >= limit) break;
        if (p + Page > start + filled) {
            // The page at p is not all in hand: keep its start, read on.
            const std::size_t keep = p < start + filled ? static_cast<std::size_t>(start + filled - p) : 0;
            if (keep > 0 && p != start) std::memmove(buffer.data(), buffer.data() + (p - start), keep);
            start = p;
            filled = keep;
            if (!at_end) {
                std::size_t wanted = buffer.size() - filled;
                // In quick mode only what the pages below the limit need.
                if (quick) wanted = static_cast<std::size_t>(
                    std::min<std::uint64_t>(wanted, Saturating_Add(limit, Page) - (start + filled)));
                const std::size_t got = file.Read_At(start + filled, buffer.data() + filled, wanted);
                filled += got;
                // A short read is the end of the file, or a read error that ends it there.
                at_end = got < wanted;
            }
            if (filled == 0) break;
            // A final short page reads as if zero-filled, as the $LogFile
            // reader reads it: a header field cut by the end keeps the bytes it has.
            if (filled < Page) std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(filled),
                                         buffer.begin() + static_cast<std::ptrdiff_t>(Page), 0);
        }
        if (p >= start + filled) break;
        const std::uint8_t* at = buffer.data() + (p - start);
        // Pages are looked for at every sector: on a volume with clusters
        // smaller than 4 KiB, or a partition that does not start on a 4 KiB
        // boundary, a log's pages lie at offsets that are multiples of 512
        // only. Both magics are tested on four bytes before a page is decoded.
        bool taken = false;
        if (std::memcmp(at, "RSTR", 4) == 0) {
            if (const auto restart = Decode_Restart_Page(Byte_View(at, Page))) {
                if (!last_restart) {
                    // The first log also holds the record pages met before it.
                    begin_log(p, first_page);
                    if (quick) limit = Saturating_Add(p, restart->Log_File_Size);
                } else if (p != *last_restart + Page) {
                    // A restart page apart from the run before it begins the
                    // next log (another volume of a disk image, another log
                    // put after the first one); the log before ends there.
                    scan.Logs.back().Next_Base = p;
                    begin_log(p, scanned.size());
                    // Quick mode reads each log met before the bound to its end.
                    if (quick) limit = std::max(limit, Saturating_Add(p, restart->Log_File_Size));
                }
                scan.Logs.back().Restart = restart;
                ++scan.Logs.back().Restart_Page_Count;
                last_restart = p;
                taken = true;
            }
        } else if (std::memcmp(at, "RCRD", 4) == 0 && Is_Record_Page(Byte_View(at, Page))) {
            scanned.push_back(Read_Page_Info(Byte_View(at, Page), scanned.size(), p));
            if (quick && !last_restart && !window_set) {
                limit = Saturating_Add(p, Quick_Record_Page_Window);
                window_set = true;
            }
            taken = true;
        }
        // A page once taken is not searched again inside.
        p += taken ? Page : Sector;
    }
    // A read error ended the file early: the page lists are built for the
    // file as it can be read, as if it had been cut there.
    scan.File_Size = file.Size();
    if (scan.Logs.empty()) begin_log(0, first_page);
    for (std::size_t i = 0; i < scan.Logs.size(); ++i)
        scan.Logs[i].Page_Count =
            (i + 1 < scan.Logs.size() ? scan.Logs[i + 1].First_Page : scanned.size()) - scan.Logs[i].First_Page;
    return scan;
}

int Carve_LogFile_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                          bool quick) {
    return Carve_LogFile_Records_With(
        context, path, db, hour_offset, quick,
        [&](const Log_Record_Header& header, _log_info& cur, const _log_info& prev, const Client_Data_View& data) {
            Analyze_LogFile_Record(context, header, cur, prev, data, db);
        });
}

int Carve_LogFile_Records_With(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                               int hour_offset, bool quick, const Record_Analyzer& analyze,
                               const Record_Observer& observe) {
    context.Hour_Offset = hour_offset;
    platform::Read_Only_File file;
    if (!file.Open(path)) return 1;
    context.Clear_Page_Lists();

    const Carving_Scan scan = Scan_For_Log_Pages(file, quick, context.Scanned_Page_Array);
    if (context.Scanned_Page_Array.empty()) return 0;
    const Page_Reader read_page = File_Page_Reader(file);

    Log_Walk_Settings settings;
    settings.Rule = Failing_Header_Rule::Search_Onward;
    settings.Analyze = analyze;
    settings.Observe = observe;
    Scoped_Transaction transaction(db);
    bool first = true;
    for (const Carved_Log& log : scan.Logs) {
        if (log.Page_Count == 0) continue;
        if (!first) Start_Next_Log(context);
        first = false;
        settings.Shift = Build_Carved_Page_List(context, scan, log, read_page);
        Walk_Log_Records(context, db, context.Replay_Page_Array, read_page, settings);
        Backfill_Event_Times(context, db);
    }
    return 0;
}
