#include "ntfs/logfile/Parse_LogFile.h"

#include <array>
#include <cstring>
#include <optional>

#include "db/Scoped_Transaction.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Replay.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

bool Starts_With_Rstr(const platform::Read_Only_File& file, std::uint64_t offset) {
    std::array<std::uint8_t, 64> head{};
    // Both 64-byte reads must be whole: a file that ends inside them is no log.
    return file.Read_At(offset, head.data(), head.size()) == head.size() && std::memcmp(head.data(), "RSTR", 4) == 0;
}

bool Is_Supported(const Restart_Info& version) {
    return (version.Major_Version == 1 && version.Minor_Version == 1) ||
           (version.Major_Version == 2 && version.Minor_Version == 0);
}

}  // namespace

std::optional<Restart_Info> Scan_LogFile_Pages(const platform::Read_Only_File& file,
                                               std::vector<_page_info>& record_pages) {
    std::optional<Restart_Info> version;
    std::array<std::uint8_t, LogFile_Page_Size> page{};
    for (std::uint64_t offset = 0;; offset += LogFile_Page_Size) {
        // A final short page is examined with its missing bytes as zeros; a
        // read error ends the scan as if the file ended there.
        const std::size_t read = file.Read_At(offset, page.data(), page.size());
        if (read == 0) break;
        std::memset(page.data() + read, 0, page.size() - read);
        const Byte_View view(page.data(), page.size());
        // Every restart page overwrites the values of the one before it.
        if (const auto restart = Decode_Restart_Page(view)) {
            version = restart;
        } else if (Is_Record_Page(view)) {
            record_pages.push_back(Read_Page_Info(view, record_pages.size(), offset));
        }
    }
    return version;
}

int Parse_LogFile(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset) {
    return Parse_LogFile_With(context, path, db, hour_offset,
                              [&](const Log_Record_Header& header, _log_info& cur, const _log_info& prev,
                                  const Client_Data_View& data) {
                                  Analyze_LogFile_Record(context, header, cur, prev, data, db);
                              });
}

int Parse_LogFile_With(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                       const Record_Analyzer& analyze, const Record_Observer& observe) {
    context.Hour_Offset = hour_offset;
    platform::Read_Only_File file;
    if (!file.Open(path)) return 1;
    if (!Starts_With_Rstr(file, 0) || !Starts_With_Rstr(file, LogFile_Page_Size)) return 2;

    context.Record_Page_Array.clear();
    context.Replay_Page_Array.clear();
    const std::optional<Restart_Info> version = Scan_LogFile_Pages(file, context.Record_Page_Array);
    if (!version || !Is_Supported(*version)) {
        platform::Message_Box(u"This $LogFile version is not supported.");
        return 0;
    }
    Build_Replay_Order(context, *version);

    Log_Walk_Settings settings;
    settings.Shift = version->Lsn_Shift;
    settings.Rule = Failing_Header_Rule::Give_Up_Page;
    settings.Analyze = analyze;
    settings.Observe = observe;
    Scoped_Transaction transaction(db);
    Walk_Log_Records(context, db, context.Replay_Page_Array, File_Page_Reader(file), settings);
    Backfill_Event_Times(context, db);
    return 0;
}
