#include "app/Signature_Loading.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

#include "db/CppSQLite3.h"
#include "detection/Signature_Descramble.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"

using platform::Console_Write;

namespace {

constexpr char16_t Signature_Query[] = u"select No, Value, Signature from SignatureTable ORDER BY No";

// Field `index` of a "|"-separated text; empty past the last separator.
std::u16string Field(std::u16string_view text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        const std::size_t bar = text.find(u'|', start);
        if (bar == std::u16string_view::npos) return {};
        start = bar + 1;
    }
    const std::size_t end = text.find(u'|', start);
    return std::u16string(text.substr(start, end == std::u16string_view::npos ? text.size() - start : end - start));
}

bool All_Present(std::initializer_list<const std::u16string*> fields) {
    for (const std::u16string* f : fields)
        if (f->empty()) return false;
    return true;
}

// The plain text of one stored row, or nothing when the row's length or blob
// does not fit.
bool Descramble_Row(CppSQLite3Query& query, std::u16string& text) {
    const std::int64_t n = Signature_Plain_Length(query.Int_At(1));
    const std::int64_t m = n % 2 == 0 ? n + 20 : n + 21;
    if (n < 1 || m > Max_Signature_Window) return false;
    int length = 0;
    const auto* blob = static_cast<const std::uint8_t*>(query.Blob_At(2, &length));
    if (blob == nullptr || length < Signature_Window_Offset + m) return false;
    std::array<std::uint8_t, Max_Signature_Window> plain{};
    if (Descramble_Signature_Blob(std::span(blob, static_cast<std::size_t>(length)), plain, static_cast<int>(n)) == 0)
        return false;
    std::size_t size = 0;
    while (size < plain.size() && plain[size] != 0) ++size;
    text = platform::Utf8_To_Utf16(std::string_view(reinterpret_cast<const char*>(plain.data()), size));
    return true;
}

// The read of a hostile file is checked against its time bound every this
// many steps of SQLite's machine.
constexpr int Progress_Steps = 16;

// SignatureTable is read only when it is a table: a view runs whatever query
// it holds (an endless recursive one, say).
bool Is_Table(CppSQLite3DB& db) {
    // Triggers have names of their own; a table and a view share theirs.
    CppSQLite3Query query = db.Run_Query(
        u"select type from sqlite_master where name = 'SignatureTable' collate nocase and type in ('table', 'view')");
    if (query.At_End()) return false;
    const char* type = query.Text_At(0);
    return type != nullptr && std::string_view(type) == "table";
}

void Close_Quietly(CppSQLite3DB& db) {
    try {
        db.Close_Database();
    } catch (const CppSQLite3Exception&) {
    }
}

}  // namespace

bool Add_Signature_Text(Program_State& state, std::u16string_view text) {
    const std::u16string category = Field(text, 0);
    std::array<std::u16string, 6> f;
    for (int i = 1; i < 6; ++i) f[i] = Field(text, i);
    if (category == u"Installation") {
        if (!All_Present({&f[1], &f[2], &f[3]})) return false;
        state.g_Installation_Signature_Array.push_back({f[2], f[3], f[1]});
    } else if (category == u"Execution") {
        if (!All_Present({&f[1], &f[3], &f[4]})) return false;
        state.g_Execution_Signature_Array.push_back({f[3], f[2], f[4], f[1]});
    } else if (category == u"Trace") {
        if (!All_Present({&f[1], &f[4], &f[5]})) return false;
        state.g_Trace_Signature_Array.push_back({f[2], f[3], f[4], f[5], f[1]});
    } else if (category == u"ProgramUpdatePath") {
        if (!All_Present({&f[1], &f[3]})) return false;
        state.g_Update_Path_Signature_Array.push_back({f[1], f[2], platform::Read_Unsigned_Decimal(f[3])});
    } else if (category == u"KeyTempPath") {
        if (!All_Present({&f[1], &f[2]})) return false;
        state.g_Key_Temp_Path_Array.push_back({f[1], f[2]});
    } else {
        return false;
    }
    return true;
}

bool Load_Signatures(Program_State& state, const std::string& folder, const Signature_Read_Bounds& bounds) {
    Console_Write("\r\nLoading Suspicious Behavior Signature Info...");
    // An unreadable current directory gives no folder: nothing to look in.
    const std::string path = folder.empty() ? std::string() : platform::Join_Path(folder, Signature_Db_Name);
    if (!platform::Path_Exists(path)) {
        Console_Write("\r\n[ERROR]There is no Signature.db file.");
        return false;
    }
    CppSQLite3DB db;
    try {
        // A directory opens for reading; only a file is a database.
        if (!platform::Is_Regular_File(path)) throw CppSQLite3Exception(SQLITE_CANTOPEN, u"not a file");
        db.Open_Read_Only(path);
    } catch (const CppSQLite3Exception&) {
        Console_Write("\r\n[ERROR]Opening Signature DB file fails.");
        return false;
    }
    // Every statement on the connection ends once the time is up.
    try {
        db.End_Statements_At(std::chrono::steady_clock::now() + bounds.Max_Time, Progress_Steps);
        if (!Is_Table(db)) throw CppSQLite3Exception(SQLITE_ERROR, u"SignatureTable is no table");
        std::uint64_t rows = 0;
        CppSQLite3Query query = db.Run_Query(Signature_Query);
        for (; !query.At_End(); query.Advance()) {
            if (++rows > bounds.Max_Rows) throw CppSQLite3Exception(SQLITE_TOOBIG, u"too many rows");
            std::u16string text;
            if (Descramble_Row(query, text)) Add_Signature_Text(state, text);
        }
        query.Release_Statement();
    } catch (const CppSQLite3Exception&) {
        Close_Quietly(db);
        Console_Write("\r\nGetting table fails.");
        return false;
    }
    Close_Quietly(db);
    Console_Write("[Done]");
    return true;
}
