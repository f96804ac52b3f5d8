#include "app/Trevalon_CMD.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <exception>
#include <memory>
#include <optional>

#include "app/Csv_Export.h"
#include "carving/Carve_Source_Folder.h"
#include "db/CppSQLite3.h"
#include "db/Scoped_Transaction.h"
#include "detection/Program_State.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "output/Event_Tables.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/output_file.h"
#include "platform/text.h"

#include <iostream>

using platform::Console_Write;

namespace {

constexpr char Usage_Text[] =
    "\r\n"
    "\r\n"
    "### Trevalon CMD (v1.9) ###"
    "\r\n[NOTE] the source files(ex : $LogFile, $UsnJrnl:$J ...) have to be extracted by other tools(ex : Sleuthkit, "
    "WinHex...) from NTFS."
    "\r\n\r\nParameter Details :"
    "\r\n1) Source Parameters"
    "\r\n -l : $LogFile Path"
    "\r\n -u : $UsnJrnl:$J Path"
    "\r\n -s : Source Files Folder Path for Record/Entry Carving"
    "\r\n -g : $LogFile Record Carving (Beta), this options has to be used with -s option."
    "\r\n -q : Quick Mode for $LogFile Record Carving, this options has to be used with -g option."
    "\r\n -n : $UsnJrnl Record Carving, this options has to be used with -s option."
    "\r\n -a : Alignment of $UsnJrnl Record Carving (1~8) (Default : 8)"
    "\r\n -m : $MFT Path (Optional)"
    "\r\n -b : Suspicious Behavior Detection (Optional), this options has to be used with -c option."
    "\r\n\r\n2) Output Parameters"
    "\r\n-o : Output File Path (Output Format : SQLite DB)"
    "\r\n-c : CSV Output (Optional)"
    "\r\n-p : Output Name (Optional, Default : QVM"
    "\r\n\r\n3) TimeZone Parameters"
    "\r\n-t : Timezone(UTC) information (Default : System Timezone) (Optional) ex) -t -12, -t 0, -t +14)"
    "\r\n-d : Apply DST(Daylight Saving Time) (Optional) ex) -d"
    "\r\n\r\nUsage Examples :"
    "\r\nex) Trevalon_CMD -l \"C:\\Sample\\$LogFile\" -o \"C:\\Sample\""
    "\r\nex) Trevalon_CMD -u \"C:\\Sample\\$UsnJrnl:$J\" -o \"C:\\Sample\" -c"
    "\r\nex) Trevalon_CMD -l \"C:\\Sample\\$LogFile\" -u \"C:\\Sample\\$UsnJrnl:$J\" -m \"C:\\Sample\\$MFT\" -o "
    "\"C:\\Sample\""
    "\r\nex) Trevalon_CMD -l \"C:\\Sample\\$LogFile\" -u \"C:\\Sample\\$UsnJrnl:$J\" -m \"C:\\Sample\\$MFT\" -o "
    "\"C:\\Sample\" -b -c"
    "\r\nex) Trevalon_CMD -s \"C:\\Sample\\SourceFolder\" -g -q -n -a 1 -o \"C:\\Sample\" -c"
    "\r\nex) Trevalon_CMD -l \"C:\\Sample\\$LogFile\" -m \"C:\\Sample\\$MFT\" -o \"C:\\Sample\" -t +9 -c"
    "\r\nex) Trevalon_CMD -u \"C:\\Sample\\$UsnJrnl:$J\" -m \"C:\\Sample\\$MFT\" -o \"C:\\Sample\" -t -3"
    "\r\nex) Trevalon_CMD -s \"C:\\Sample\\SourceFolder\" -g -q -n -o \"C:\\Sample\" -t +5 -d -c"
    "\r\n";

// The options of one invocation, after the checks.
struct Command_Line {
    std::string LogFile_Path, UsnJrnl_Path, Source_Folder, MFT_Path, Output_Folder;
    bool Has_LogFile = false, Has_UsnJrnl = false, Has_Source = false, Has_MFT = false, Has_Output = false;
    bool Csv = false, Has_Timezone = false;
    int Utc_Offset = 0;
    int Dst = 0;
    int Detect = 0;
};

int Read_Int(const std::string& text) {
    const long long v = platform::Read_Decimal(std::string_view(text));
    return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
}

// A failed check: its message and whether the usage text follows.
struct Option_Error {
    const char* Message;
    bool With_Usage = true;
};

std::optional<Option_Error> Parse_Command_Line(const std::vector<std::string>& args, Command_Line& cl,
                                               Run_Options& options, const Run_Environment& environment) {
    if (args.size() < 2) return Option_Error{"[ERROR] There are no parameters~!!!"};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool has_value = i + 1 < args.size();
        const std::string value = has_value ? args[i + 1] : std::string();
        if (word == "-l") {
            if (!platform::Path_Exists(value)) return Option_Error{"[ERROR] There is no such $LogFile file in source path."};
            cl.LogFile_Path = value;
            cl.Has_LogFile = true;
        } else if (word == "-u") {
            if (!platform::Path_Exists(value))
                return Option_Error{"[ERROR] There is no such $UsnJrnl:$J file in source path."};
            cl.UsnJrnl_Path = value;
            cl.Has_UsnJrnl = true;
        } else if (word == "-s") {
            if (!platform::Path_Exists(value))
                return Option_Error{"[ERROR] There is no such Source Files Folder in source path."};
            if (!platform::Is_Listable_Directory(value))
                return Option_Error{"[ERROR] The Source Files Folder Path is not Directory."};
            cl.Source_Folder = value;
            cl.Has_Source = true;
        } else if (word == "-g") {
            options.g_LogFile_Carving = 1;
        } else if (word == "-q") {
            options.g_Quick_Mode = 1;
        } else if (word == "-n") {
            options.g_UsnJrnl_Carving = 1;
        } else if (word == "-a") {
            options.g_Carving_Alignment = Read_Int(value);
            // Compared as read, so that no extreme value overflows on the way.
            if (!has_value || options.g_Carving_Alignment < 1 || options.g_Carving_Alignment > 8)
                return Option_Error{"[ERROR] Carving Alignment must be bigger than 0 and smaller than 9.", false};
        } else if (word == "-m") {
            if (!platform::Path_Exists(value)) return Option_Error{"[ERROR] There is no such $MFT file in source path."};
            cl.MFT_Path = value;
            cl.Has_MFT = true;
        } else if (word == "-o") {
            if (!platform::Path_Exists(value)) return Option_Error{"[ERROR] There is no such Output Path..."};
            cl.Output_Folder = value;
            cl.Has_Output = true;
        } else if (word == "-c") {
            cl.Csv = true;
        } else if (word == "-p") {
            // The name becomes part of file names: "../x" would write outside
            // the output folder.
            if (value.find('/') != std::string::npos)
                return Option_Error{"[ERROR] The output name must not hold '/'~!!!"};
            options.g_Output_Name = value;
        } else if (word == "-t") {
            cl.Utc_Offset = Read_Int(value);
            if (!has_value || cl.Utc_Offset < -12 || cl.Utc_Offset > 14)
                return Option_Error{"[ERROR] Timezone information is not valid.(-12~14)"};
            cl.Has_Timezone = true;
        } else if (word == "-d") {
            cl.Dst = 1;
        } else if (word == "-b") {
            cl.Detect = 1;
        }
    }
    if (!cl.Has_LogFile && !cl.Has_UsnJrnl && !cl.Has_Source)
        return Option_Error{"[ERROR] There are no source parameters~!!! (-l or -u or -s)"};
    if (!cl.Has_Output) return Option_Error{"[ERROR] There are no output parameters~!!! (-o)"};
    // Without -t the zone's standard offset counts; DST comes only from -d.
    if (!cl.Has_Timezone) cl.Utc_Offset = -(environment.System_Bias_Minutes() / 60);
    if ((options.g_LogFile_Carving || options.g_UsnJrnl_Carving) && !cl.Has_Source)
        return Option_Error{"[ERROR] $LogFile Record Carving option(-g) / $UsnJrnl Record Carving option(-n) / $MFT "
                            "Entry Carving option(-f) has to be used with Source Folder option(-s)."};
    if (options.g_Quick_Mode && !options.g_LogFile_Carving)
        return Option_Error{"[ERROR] Quick Mode for $LogFile Record Carving option(-q) has to be used with $LogFile "
                            "Record Carving option(-g)."};
    if (cl.Detect && !cl.Csv)
        return Option_Error{"[ERROR] Suspicious Behavior Detection option(-b) has to be used with CSV option(-c)."};
    return std::nullopt;
}

void Print_Banner(const Command_Line& cl) {
    Console_Write("\r\n### Trevalon CMD (v1.9) ###");
    const char* zone = cl.Utc_Offset > 0 ? "\r\n[+] TimeZone : UTC+%d"
                       : cl.Utc_Offset < 0 ? "\r\n[+] TimeZone : UTC%d"
                                           : "\r\n[+] TimeZone : UTC %d";
    Console_Write(platform::Format8(zone, {cl.Utc_Offset}));
    Console_Write(cl.Dst ? "\r\n[+] DST(Daylight Saving Time) : Yes" : "\r\n[+] DST(Daylight Saving Time) : No");
    Console_Write(cl.Detect ? "\r\n[+] Suspicious Behavior Detection : Yes"
                            : "\r\n[+] Suspicious Behavior Detection : No");
}

bool Run_Guarded(CppSQLite3DB& db, std::u16string_view statement) {
    try {
        db.Run_Query(statement);
        return true;
    } catch (const CppSQLite3Exception&) {
        return false;
    }
}

void Close_Quietly(CppSQLite3DB& db) {
    try {
        db.Close_Database();
    } catch (const CppSQLite3Exception&) {
    }
}

// The names of one run, from the moment it takes as its start.
struct Run_Names {
    std::string Stamp;
    std::string Database;
};

Run_Names Names_At(const std::tm& now, const std::string& output_name) {
    Run_Names names;
    names.Stamp = platform::Format_Local_Time(now, "%Y-%m-%d %H-%M-%S");
    const std::string db_stamp = platform::Format_Local_Time(now, "%Y-%m-%d %H-%M-%S.db");
    names.Database = output_name.empty() ? "QVM_" + db_stamp : output_name + "_SQLite_" + db_stamp;
    return names;
}

// Creates the database file, under its ".partial" name, in a file of its own:
// never in a file that exists (a run earlier in the same second, a planted
// file or link). A name that is taken is given up for the next second's,
// which then names all the run's files. False when no name could be had.
bool Reserve_Database(platform::Output_Folder& folder, const std::string& output_folder,
                      const std::string& output_name, const Run_Environment& environment, Run_Names& names) {
    if (!folder.Open(output_folder)) return false;
    for (int waits = 0;; ++waits) {
        names = Names_At(environment.Local_Now(), output_name);
        if (folder.Reserve(names.Database)) return true;
        if (errno != EEXIST || waits == Max_Database_Name_Waits) return false;
        if (environment.Wait_For_Next_Second) environment.Wait_For_Next_Second();
        else platform::Wait_For_Next_Second();
    }
}

int Run(const std::vector<std::string>& args, const Run_Environment& environment) {
    // Each run starts from fresh program-wide state.
    auto state = std::make_unique<Program_State>();
    Command_Line cl;
    if (const auto error = Parse_Command_Line(args, cl, state->Options, environment)) {
        Console_Write(error->Message);
        if (error->With_Usage) Print_Usage();
        return Exit_Option_Error;
    }
    const int hour_offset = cl.Utc_Offset + cl.Dst;
    const std::uint64_t inputs_cut_before = platform::Inputs_Not_Read_To_End();

    // The folder is resolved once: every file of the run goes where it was
    // when the run started.
    platform::Output_Folder folder;
    Run_Names names;
    CppSQLite3DB db;
    if (!Reserve_Database(folder, cl.Output_Folder, state->Options.g_Output_Name, environment, names) ||
        !Open_Database(db, folder.Partial_Path(names.Database), false)) {
        Console_Write("Opening DB file fails.");
        return Exit_Failure;
    }
    const std::string db_path = folder.Partial_Path(names.Database);
    // The database is flushed to disk when the run ends; written out while
    // the stages fill it, that costs the run little.
    std::optional<platform::Background_Writeback> writeback(std::in_place, db_path);
    if (!Run_Guarded(db, Event_Table_Sql::Create_LogFile) || !Run_Guarded(db, Event_Table_Sql::Create_UsnJrnl) ||
        !Run_Guarded(db, Event_Table_Sql::Create_TimeZone)) {
        Console_Write("[ERR0R] Creating DB Tables fails.");
        Close_Quietly(db);
        return Exit_Failure;
    }
    Print_Banner(cl);

    Global_Parsing_Context& context = state->g_Parsing_Context;
    const Run_Options& options = state->Options;
    // A failed delete of the placeholder rows would leave them in the output.
    const auto delete_temp_events = [&] {
        if (Run_Guarded(db, Delete_Temp_Events_Sql())) return true;
        Console_Write("[ERR0R] Deleting Temp Event rows fails.");
        Close_Quietly(db);
        return false;
    };

    if (cl.Has_MFT) {
        Console_Write("\r\nParsing $MFT...");
        Parse_MFT(context, cl.MFT_Path);
        Console_Write("[Done]");
    }
    if (cl.Has_LogFile) {
        Console_Write("\r\nParsing $LogFile...");
        Parse_LogFile(context, cl.LogFile_Path, db, hour_offset);
        if (!delete_temp_events()) return Exit_Failure;
        Console_Write("[Done]");
    }
    if (cl.Has_UsnJrnl) {
        Console_Write("\r\nParsing $UsnJrnl:$J...");
        Parse_UsnJrnl(context, cl.UsnJrnl_Path, db, hour_offset);
        Console_Write("[Done]");
    }
    if (cl.Has_Source) {
        const char* line = nullptr;
        if (options.g_LogFile_Carving && options.g_UsnJrnl_Carving)
            line = "\r\nCarving $logFile Record and $UsnJrnl Record...";
        else if (options.g_LogFile_Carving)
            line = "\r\nCarving $logFile Record...";
        else if (options.g_UsnJrnl_Carving)
            line = "\r\nCarving $UsnJrnl Record...";
        if (line != nullptr) {
            Console_Write(line);
            Carve_Source_Folder(context, options, cl.Source_Folder, db, hour_offset);
        }
        if (!delete_temp_events()) return Exit_Failure;
        if (line != nullptr) Console_Write("[Done]");
    }
    state->Reload_Event_Rows = cl.Detect == 1;
    bool exported = true;
    if (cl.Csv)
        exported = Export_CSV_And_Detect(*state, db_path, folder, names.Stamp, cl.Utc_Offset, cl.Dst, cl.Detect,
                                         UsnJrnl_Csv_Page_Rows, platform::Current_Directory());

    // A stage whose COMMIT failed left its rows in an open transaction: one
    // more try before the run's last row.
    Commit_Left_Open(db);
    bool database_complete = true;
    if (!Run_Guarded(db, platform::Format(Event_Table_Sql::Insert_TimeZone, {cl.Utc_Offset, cl.Dst}))) {
        Console_Write("[ERR0R] Inserting TimeZone information to DB fails.");
        database_complete = false;
    }
    const bool transactions_held = !db.Transaction_Failed();
    try {
        db.Close_Database();
    } catch (const CppSQLite3Exception& e) {
        platform::Message_Box(u"[ERROR] " + e.Message());
        database_complete = false;
    }
    writeback.reset();
    // The database goes last: once it has its final name, so has every file
    // of the run that was written to its end.
    if (database_complete) database_complete = folder.Finished(names.Database, true);
    const bool published = folder.Publish();
    if (!database_complete) return Exit_Failure;
    Console_Write("\r\n");
    const bool inputs_read = platform::Inputs_Not_Read_To_End() == inputs_cut_before;
    return exported && transactions_held && inputs_read && published ? Exit_Success : Exit_Failure;
}

}  // namespace

Run_Environment Run_Environment::System() {
    Run_Environment environment;
    environment.Local_Now = [] { return platform::Local_Now(); };
    environment.System_Bias_Minutes = [] { return platform::Standard_Bias_Minutes(); };
    return environment;
}

void Print_Usage() { Console_Write(Usage_Text); }

int Run_Main(const std::vector<std::string>& args, const Run_Environment& environment) {
    std::ostream& console = environment.Console != nullptr ? *environment.Console : std::cout;
    std::ostream& messages = environment.Messages != nullptr ? *environment.Messages : std::cerr;
    platform::Scoped_Output output(console, messages);
    // A file-size limit then makes a write fail, which is reported as a full
    // disk is, rather than ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // Whatever escapes a stage (memory exhausted, say) ends the run with a
    // line and a failure code rather than an abort; the files of the run
    // stay under their ".partial" names.
    try {
        return Run(args, environment);
    } catch (const std::exception& e) {
        platform::Message_Box(u"[ERROR] " + platform::Utf8_To_Utf16(e.what()));
    } catch (...) {
        platform::Message_Box(u"[ERROR] The run ends on an unexpected failure.");
    }
    return Exit_Failure;
}
