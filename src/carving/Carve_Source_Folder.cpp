#include "carving/Carve_Source_Folder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "carving/Carve_LogFile_Records.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

unsigned char Upper_Ascii(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c; }

int Compare_Folded(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Upper_Ascii(static_cast<unsigned char>(a[i]));
        const unsigned char y = Upper_Ascii(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

bool Source_Name_Less(std::string_view a, std::string_view b) {
    const int folded = Compare_Folded(a, b);
    if (folded != 0) return folded < 0;
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

bool List_Source_Files(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        // stat follows a symbolic link to what it names; a dangling link or
        // an entry that vanished is no file to carve.
        struct stat st {};
        if (::stat(platform::Join_Path(folder, name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return Source_Name_Less(a, b); });
    return true;
}

int Carve_Source_Folder(Global_Parsing_Context& context, const Run_Options& options, const std::string& folder,
                        CppSQLite3DB& db, int hour_offset) {
    const int logfile_carving = options.g_LogFile_Carving;
    const int usnjrnl_carving = options.g_UsnJrnl_Carving;
    const bool quick = options.g_Quick_Mode != 0;
    const int alignment = options.g_Carving_Alignment;

    std::vector<std::string> names;
    if (!List_Source_Files(folder, names)) {
        platform::Message_Box(u"Source File Folder Handle is invalid.");
        return -1;
    }
    for (const std::string& name : names) {
        const std::string path = platform::Join_Path(folder, name);
        Reset_Carving_State(context);
        const CppSQLite3DB::Refused_Key_Counts before = db.Refused_Keys();
        if (logfile_carving == 1) Carve_LogFile_Records(context, path, db, hour_offset, quick);
        if (usnjrnl_carving == 1) Carve_UsnJrnl_Records(context, path, db, hour_offset, alignment);
        // Records of several journals or logs in one folder share the keys of
        // one table: those of a later file whose key is taken are not stored,
        // and the examiner is told how many.
        const std::uint64_t usn = db.Refused_Keys().UsnJrnl - before.UsnJrnl;
        const std::uint64_t lsn = db.Refused_Keys().LogFile - before.LogFile;
        if (usn != 0 || lsn != 0)
            platform::Message_Line(path + ": " + std::to_string(usn) + " $UsnJrnl records and " + std::to_string(lsn) +
                                   " $LogFile records not stored: their USN/LSN is already in the database.");
    }
    return 0;
}
