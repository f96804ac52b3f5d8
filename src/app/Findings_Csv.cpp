#include "app/Findings_Csv.h"

#include "output/Csv_File.h"
#include "platform/console.h"
#include "platform/text.h"

using platform::Console_Write;

namespace {

constexpr char Header_Line[] = "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n";

}  // namespace

bool Export_Findings_Csv(Program_State& state, platform::Output_Folder& folder, const std::string& stamp) {
    Console_Write("\r\nExporting Suspicious Behavior Detection info to CSV file...");
    Csv_File file;
    bool written = false;
    if (!file.Create(folder, Csv_File_Name(state.Options.g_Output_Name, "SuspiciousBehaviorDetection", stamp, ".csv"))) {
        Console_Write(Csv_Create_Failed);
    } else {
        file.Write(Header_Line);
        for (const auto& overview : state.g_Detection_Overview_Array) {
            for (const auto& detail : overview->Details) {
                if (detail->Valid != 1) continue;
                std::u16string message = detail->Message;
                platform::Replace(message, u"\"", u"'");
                file.Write(Csv_Line({overview->Category, message, detail->Source, detail->DetectionLocation}));
            }
        }
        written = file.Close();
        Console_Write(written ? "[Done]" : Csv_Write_Failed);
    }
    state.g_Detection_Overview_Array.clear();
    return written;
}

bool Export_Findings_Csv(Program_State& state, const std::string& folder, const std::string& stamp) {
    platform::Output_Folder output;
    output.Open(folder);
    const bool written = Export_Findings_Csv(state, output, stamp);
    return output.Publish() && written;
}
