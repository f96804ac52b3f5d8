#include "output/Csv_File.h"

#include "platform/text.h"

std::string Csv_File_Name(const std::string& output_name, const std::string& kind, const std::string& stamp,
                          const std::string& suffix) {
    const std::string prefix = output_name.empty() ? "QVM" : output_name;
    return prefix + "_" + kind + "_" + stamp + suffix;
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
