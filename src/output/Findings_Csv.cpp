#include "output/Findings_Csv.h"

#include <cstdio>
#include <memory>

#include "output/Csv_Export.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"

using platform::Console_Write;

namespace {

constexpr char Header_Line[] = "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n";

}  // namespace

void Export_Findings_Csv(Program_State& state, const std::string& folder, const std::string& stamp) {
    Console_Write("\r\nExporting Suspicious Behavior Detection info to CSV file...");
    Csv_File file = Create_Csv(Csv_File_Path(folder, state.Options.g_Output_Name, "SuspiciousBehaviorDetection", stamp, ".csv"));
    if (!file) {
        Console_Write(Csv_Create_Failed);
    } else {
        Write_Csv(file.get(), Header_Line);
        for (const auto& overview : state.g_Detection_Overview_Array) {
            for (const auto& detail : overview->Details) {
                if (detail->Valid != 1) continue;
                std::u16string message = detail->Message;
                platform::Replace(message, u"\"", u"'");
                Write_Csv(file.get(), Csv_Line({overview->Category, message, detail->Source, detail->DetectionLocation}));
            }
        }
        file.reset();
        Console_Write("[Done]");
    }
    state.g_Detection_Overview_Array.clear();
}
