#include "output/Csv_Export.h"

#include <cstdio>
#include <memory>

#include "db/CppSQLite3.h"
#include "detection/Detect_Suspicious_Behavior.h"
#include "output/Findings_Csv.h"
#include "output/Signature_Loading.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"

using platform::Console_Write;
using platform::Format;

namespace {

constexpr char LogFile_Query[] =
    "select LSN, EventTime, Event, Detail,  FileName, FullPath, CreateTime, ModifiedTIme, MFT_ModifiedTime, "
    "AccessTime, RedoInfo, TargetVCN, MFT_ClusterIndex from LogFile ORDER BY LSN";
constexpr char UsnJrnl_Count_Query[] = "SELECT COUNT(*) FROM UsnJrnl";
constexpr char UsnJrnl_Query[] =
    "select USN, TimeStamp, FileName, FullPath, Event, SourceInfo, FileAttr, CarvingFlag, FileReferenceNumber, "
    "ParentFileReferenceNumber from UsnJrnl ORDER BY USN";

// The stored texts hold "/" where the value held ","; the reload turns them back.
void Unescape(std::u16string& value) { platform::Replace(value, u"/", u","); }

// Writes the rows of one fetched UsnJrnl table and appends them to the array.
void Export_UsnJrnl_Rows(CppSQLite3Table& table, std::FILE* file, std::vector<_USNJRNLINFO>& array) {
    for (std::int64_t row = 0; row < table.Row_Count(); ++row) {
        table.Select_Row(row);
        _USNJRNLINFO r;
        r.USN = table.Wide_Text_At(0);
        r.TimeStamp = table.Wide_Text_At(1);
        r.FileName = table.Wide_Text_At(2);
        r.FullPath = table.Wide_Text_At(3);
        r.Event = table.Wide_Text_At(4);
        r.SourceInfo = table.Wide_Text_At(5);
        r.FileAttr = table.Wide_Text_At(6);
        r.CarvingFlag = table.Wide_Text_At(7);
        r.FileReferenceNumber = table.Wide_Text_At(8);
        r.ParentFileReferenceNumber = table.Wide_Text_At(9);
        for (std::u16string* v : {&r.TimeStamp, &r.USN, &r.FileName, &r.FullPath, &r.Event, &r.SourceInfo, &r.FileAttr,
                                  &r.CarvingFlag, &r.FileReferenceNumber, &r.ParentFileReferenceNumber})
            Unescape(*v);
        Write_Csv(file, Csv_Line({r.TimeStamp, r.USN, r.FileName, r.FullPath, r.Event, r.SourceInfo, r.FileAttr,
                              r.CarvingFlag, r.FileReferenceNumber, r.ParentFileReferenceNumber}));
        array.push_back(std::move(r));
    }
}

// Returns false when the export must end (the database or the LogFile table
// could not be read, or the CSV file could not be created).
bool Export_LogFile(Program_State& state, const std::string& db_path, const std::string& folder,
                    const std::string& stamp, const std::u16string& header) {
    Console_Write("\r\nExporting $LogFile info to CSV file...");
    Csv_File file = Create_Csv(Csv_File_Path(folder, state.Options.g_Output_Name, "LogFile", stamp, ".csv"));
    if (!file) {
        Console_Write(Csv_Create_Failed);
        return false;
    }
    Write_Csv(file.get(), platform::Utf16_To_Utf8(Format(
                          u"\"LSN\",\"%s\",\"Event\",\"Detail\",\"File/Directory Name\",\"Full Path\",\"Create Time\","
                          u"\"Modified Time\",\"MFT_Modified Time\",\"Access Time\",\"Redo\",\"Target VCN\","
                          u"\"Cluster Index\"\r\n",
                          {header})));
    CppSQLite3DB db;
    if (!Open_Database(db, db_path)) {
        Console_Write("[ERROR] Opening DB file fails...");
        return false;
    }
    try {
        CppSQLite3Table table = db.Fetch_Table(LogFile_Query);
        table.Require_Results();
        for (std::int64_t row = 0; row < table.Row_Count(); ++row) {
            table.Select_Row(row);
            _log_info r;
            r.LSN = table.Wide_Text_At(0);
            r.EventTime = table.Wide_Text_At(1);
            r.Event = table.Wide_Text_At(2);
            r.Detail = table.Wide_Text_At(3);
            r.FileName = table.Wide_Text_At(4);
            r.FullPath = table.Wide_Text_At(5);
            r.CreateTime = table.Wide_Text_At(6);
            r.ModifiedTime = table.Wide_Text_At(7);
            r.MFT_ModifiedTime = table.Wide_Text_At(8);
            r.AccessTime = table.Wide_Text_At(9);
            r.RedoInfo = table.Wide_Text_At(10);
            r.TargetVCN = table.Wide_Text_At(11);
            r.ClusterIndex = table.Wide_Text_At(12);
            for (std::u16string* v : {&r.LSN, &r.EventTime, &r.Event, &r.Detail, &r.FileName, &r.FullPath,
                                      &r.CreateTime, &r.ModifiedTime, &r.MFT_ModifiedTime, &r.AccessTime, &r.RedoInfo,
                                      &r.TargetVCN, &r.ClusterIndex})
                Unescape(*v);
            Write_Csv(file.get(), Csv_Line({r.LSN, r.EventTime, r.Event, r.Detail, r.FileName, r.FullPath, r.CreateTime,
                                        r.ModifiedTime, r.MFT_ModifiedTime, r.AccessTime, r.RedoInfo, r.TargetVCN,
                                        r.ClusterIndex}));
            state.g_Log_Info_Array.push_back(std::move(r));
        }
    } catch (...) {
        Console_Write("[ERROR] Acquiring $LogFile Information fails...");
        return false;
    }
    file.reset();
    try {
        db.Close_Database();
    } catch (...) {
    }
    Console_Write("[Done]");
    return true;
}

bool Export_UsnJrnl(Program_State& state, const std::string& db_path, const std::string& folder,
                    const std::string& stamp, const std::u16string& header, std::int64_t page_rows) {
    Console_Write("\r\nExporting $UsnJrnl:$J info to CSV file...");
    CppSQLite3DB db;
    if (!Open_Database(db, db_path)) {
        Console_Write("[ERROR] Opening DB file fails...");
        return false;
    }
    std::int64_t count = 0;
    try {
        CppSQLite3Table table = db.Fetch_Table(UsnJrnl_Count_Query);
        table.Select_Row(0);
        const char* field = table.Text_At(0);
        count = field == nullptr ? 0 : platform::Read_Decimal(std::string_view(field));
    } catch (...) {
        Console_Write("[ERROR] Acquiring $UsnJrnl:$J Information fails...");
        return false;
    }
    const std::string header_line = platform::Utf16_To_Utf8(
        Format(u"\"%s\",\"USN\",\"File/Directory Name\",\"FullPath\",\"EventInfo\",\"SourceInfo\",\"FileAttribute\","
               u"\"Carving Flag\",\"FileReferenceNumber\",\"ParentFileReferenceNumber\"\r\n",
               {header}));
    const bool paged = count >= page_rows;
    const std::int64_t files = paged ? count / page_rows + 1 : 1;
    for (std::int64_t p = 1; p <= files; ++p) {
        const std::string suffix = paged ? platform::Format8("_%d.csv", {static_cast<long long>(p)}) : ".csv";
        Csv_File file = Create_Csv(Csv_File_Path(folder, state.Options.g_Output_Name, "UsnJrnl", stamp, suffix));
        if (!file) {
            Console_Write(Csv_Create_Failed);
            return false;
        }
        Write_Csv(file.get(), header_line);
        std::string query = UsnJrnl_Query;
        if (paged) query += platform::Format8(" Limit %I64u OFFSET %I64u", {static_cast<unsigned long long>(page_rows),
                                                                          static_cast<unsigned long long>((p - 1) * page_rows)});
        try {
            CppSQLite3Table table = db.Fetch_Table(query);
            table.Require_Results();
            Export_UsnJrnl_Rows(table, file.get(), state.g_UsnJrnl_Info_Array);
        } catch (...) {
            // A failed page ends the export; what was written so far stays.
            return false;
        }
    }
    try {
        db.Close_Database();
    } catch (...) {
    }
    Console_Write("[Done]");
    return true;
}

}  // namespace

Csv_File Create_Csv(const std::string& path) { return Csv_File(std::fopen(path.c_str(), "wb")); }

void Write_Csv(std::FILE* file, const std::string& text) { std::fwrite(text.data(), 1, text.size(), file); }

std::string Csv_File_Path(const std::string& folder, const std::string& output_name, const std::string& kind,
                          const std::string& stamp, const std::string& suffix) {
    const std::string prefix = output_name.empty() ? "QVM" : output_name;
    return platform::Join_Path(folder, prefix + "_" + kind + "_" + stamp + suffix);
}

std::u16string Csv_Time_Header(std::u16string_view column, int utc_offset, int dst) {
    const char16_t* form;
    if (utc_offset > 0) form = dst == 1 ? u"%s(UTC+%d DST)" : u"%s(UTC+%d)";
    else if (utc_offset < 0) form = dst == 1 ? u"%s(UTC%d,DST)" : u"%s(UTC%d)";
    else form = dst == 1 ? u"%s(UTC %d,DST)" : u"%s(UTC %d)";
    return Format(form, {column, utc_offset});
}

std::string Csv_Line(std::initializer_list<std::u16string_view> fields) {
    std::u16string line;
    bool first = true;
    for (std::u16string_view field : fields) {
        if (!first) line.push_back(u',');
        first = false;
        std::u16string value(platform::Cut_At_Nul(field));
        platform::Replace(value, u"\"", u"\"\"");
        line.append(u"\"").append(value).append(u"\"");
    }
    line.append(u"\r\n");
    return platform::Utf16_To_Utf8(line);
}

void Export_CSV_And_Detect(Program_State& state, const std::string& db_path, const std::string& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect, std::int64_t page_rows,
                           const std::string& signature_folder) {
    if (page_rows <= 0) page_rows = UsnJrnl_Csv_Page_Rows;
    if (!Export_LogFile(state, db_path, output_folder, stamp, Csv_Time_Header(u"EventTime", utc_offset, dst))) return;
    if (!Export_UsnJrnl(state, db_path, output_folder, stamp, Csv_Time_Header(u"TimeStamp", utc_offset, dst),
                        page_rows))
        return;
    if (detect != 1) return;
    if (!Load_Signatures(state, signature_folder)) return;
    Detect_Suspicious_Behavior(state);
    Export_Findings_Csv(state, output_folder, stamp);
}
