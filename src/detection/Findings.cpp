#include "detection/Findings.h"

AntiForneisc_Behavior_Detection_Detail& Record_Finding(Detection_Overview_List& overviews, std::u16string_view category,
                                                       std::u16string_view source, std::u16string_view location,
                                                       std::u16string_view message) {
    auto detail = std::make_unique<AntiForneisc_Behavior_Detection_Detail>();
    detail->Source = source;
    detail->DetectionLocation = location;
    detail->Message = message;
    AntiForneisc_Behavior_Detection_Overview* home = nullptr;
    for (const auto& overview : overviews) {
        if (overview->Category == category && overview->Source == source) {
            home = overview.get();
            break;
        }
    }
    if (home == nullptr) {
        auto made = std::make_unique<AntiForneisc_Behavior_Detection_Overview>();
        made->Category = category;
        made->Source = source;
        home = made.get();
        overviews.push_back(std::move(made));
    }
    home->Details.push_back(std::move(detail));
    return *home->Details.back();
}
