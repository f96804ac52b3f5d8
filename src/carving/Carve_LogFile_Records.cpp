#include "carving/Carve_LogFile_Records.h"

#include <algorithm>
#include <cstdint>

#include "db/Scoped_Transaction.h"
#include "ntfs/logfile/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Format.h"

namespace {

constexpr std::uint64_t Page = LogFile_Page_Size;
// The scan reads this many bytes at a time; the file is never held whole.
constexpr std::size_t Scan_Chunk_Size = 1 << 20;
// In quick mode, how far past a record page met before any restart page the
// scan goes on (a log is rarely larger).
constexpr std::uint64_t Quick_Record_Page_Window = 0x4000000;

std::uint64_t Saturating_Add(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

void Empty_Page_Lists(Global_Parsing_Context& context) {
    context.Scanned_Page_Array.clear();
    context.Record_Page_Array.clear();
    context.Replay_Page_Array.clear();
    context.Carved_Page_Array.clear();
    context.Older_Buffer_Page_Array.clear();
    context.Newer_Buffer_Page_Array.clear();
    context.Page_Group_Array.clear();
}

}  // namespace

Carving_Scan Scan_For_Log_Pages(const platform::Read_Only_File& file, bool quick, std::vector<_page_info>& scanned) {
    Carving_Scan scan;
    scan.File_Size = file.Size();
    std::uint64_t limit = scan.File_Size;
    bool window_set = false;
    // Whole pages, never more than the file needs (small files are common).
    const std::uint64_t file_pages = scan.File_Size / Page + (scan.File_Size % Page != 0 ? 1 : 0);
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(Scan_Chunk_Size / Page, std::max<std::uint64_t>(file_pages, 1)) * Page));
    std::uint64_t offset = 0;
    for (;;) {
        if (quick && offset >= limit) break;
        std::size_t wanted = chunk.size();
        // Whole pages up to the limit: the page where it falls is looked at whole.
        if (quick) {
            const std::uint64_t left = limit - offset;
            const std::uint64_t pages = left / Page + (left % Page != 0 ? 1 : 0);
            wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted / Page, pages) * Page);
        }
        const std::size_t got = file.Read_At(offset, chunk.data(), wanted);
        if (got == 0) break;
        // A final short page reads as if zero-filled, as the $LogFile reader
        // reads it: a header field cut by the end keeps the bytes it has.
        const std::size_t whole = (got + Page - 1) / Page * Page;
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.begin() + static_cast<std::ptrdiff_t>(whole), 0);
        for (std::size_t at = 0; at < got; at += Page) {
            const std::uint64_t p = offset + at;
            if (quick && p >= limit) break;
            const Byte_View view(chunk.data() + at, Page);
            if (const auto restart = Decode_Restart_Page(view)) {
                if (scan.Restart_Page_Count == 0) {
                    scan.Base = p;
                    if (quick) limit = Saturating_Add(p, restart->Log_File_Size);
                }
                scan.Restart = restart;
                ++scan.Restart_Page_Count;
            } else if (Is_Record_Page(view)) {
                scanned.push_back(Read_Page_Info(view, scanned.size(), p));
                if (quick && scan.Restart_Page_Count == 0 && !window_set) {
                    limit = Saturating_Add(p, Quick_Record_Page_Window);
                    window_set = true;
                }
            }
        }
        // A short read is the end of the file, or a read error that ends it there.
        if (got < wanted) break;
        offset += got;
    }
    // A read error ended the file early: the page lists are built for the
    // file as it can be read, as if it had been cut there.
    scan.File_Size = file.Size();
    return scan;
}

int Carve_LogFile_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                          bool quick) {
    return Carve_LogFile_Records_With(
        context, path, db, hour_offset, quick,
        [&](Byte_View header, _log_info& cur, const _log_info& prev, const Client_Data_View& data) {
            Analyze_LogFile_Record(context, header, cur, prev, data, db);
        });
}

int Carve_LogFile_Records_With(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                               int hour_offset, bool quick, const Record_Analyzer& analyze,
                               const Record_Observer& observe) {
    context.Hour_Offset = hour_offset;
    platform::Read_Only_File file;
    if (!file.Open(path)) return 1;
    Empty_Page_Lists(context);

    const Carving_Scan scan = Scan_For_Log_Pages(file, quick, context.Scanned_Page_Array);
    if (context.Scanned_Page_Array.empty()) return 0;
    const Page_Reader read_page = File_Page_Reader(file);

    Log_Walk_Settings settings;
    settings.Shift = Build_Carved_Page_List(context, scan, read_page);
    settings.Rule = Failing_Header_Rule::Search_Onward;
    settings.Analyze = analyze;
    settings.Observe = observe;
    Scoped_Transaction transaction(db);
    Walk_Log_Records(context, db, context.Replay_Page_Array, read_page, settings);
    Backfill_Event_Times(context, db);
    return 0;
}
