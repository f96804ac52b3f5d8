#include "detection/usnjrnl/UsnJrnl_Facts.h"

#include <stdexcept>
#include <string>
#include <unordered_map>

#include "detection/Rule_Numbers.h"
#include "ntfs/File_Attribute_Words.h"
#include "platform/text.h"

namespace {

bool Holds_Text(std::u16string_view text, std::u16string_view what) { return text.find(what) != std::u16string_view::npos; }

constexpr std::u16string_view Directory_Word = Journal_File_Attribute_Word(File_Attribute::Directory);
constexpr std::u16string_view Not_Content_Indexed_Word = Journal_File_Attribute_Word(File_Attribute::Not_Content_Indexed);

bool Is_Digit(char16_t c) { return c >= u'0' && c <= u'9'; }
int Two_Digits(std::u16string_view text, std::size_t at) { return (text[at] - u'0') * 10 + (text[at + 1] - u'0'); }

// A time text whose order among other such texts is the order of its
// seconds: of the shape "YYYY-MM-DD HH:MM:SS" with every field in range. Of
// that shape, only a field out of range reads as the failure date -86400 (a
// valid text reads so only for 1899-12-29 00:00:00).
bool Is_Ordered_Time_Text(std::u16string_view text, std::int64_t seconds) {
    static constexpr std::u16string_view shape = u"0000-00-00 00:00:00";
    if (text.size() != shape.size()) return false;
    for (std::size_t k = 0; k < shape.size(); ++k) {
        const bool digit = text[k] >= u'0' && text[k] <= u'9';
        if (shape[k] == u'0' ? !digit : text[k] != shape[k]) return false;
    }
    return seconds != -86400 || text == u"1899-12-29 00:00:00";
}

// A reference text as the journal reader writes it: "0x" and 16 upper-case
// hexadecimal digits. Two such texts are equal exactly when their numbers are.
bool Is_Reader_Reference_Text(std::u16string_view text) {
    if (text.size() != 18 || text[0] != u'0' || text[1] != u'x') return false;
    for (std::size_t k = 2; k < text.size(); ++k)
        if (!((text[k] >= u'0' && text[k] <= u'9') || (text[k] >= u'A' && text[k] <= u'F'))) return false;
    return true;
}

}  // namespace

UsnJrnl_Facts::UsnJrnl_Facts(const UsnJrnl_Info_Rows& rows) : rows_(rows) {
    for (const Usn_Field f : {Usn_Field::TimeStamp, Usn_Field::Event, Usn_Field::FileReferenceNumber,
                              Usn_Field::ParentFileReferenceNumber})
        if (rows.Group_Of(f) == 0) throw std::logic_error("the journal facts need shared times, events and references");
    if (rows.Group_Of(Usn_Field::FileAttr) != rows.Group_Of(Usn_Field::Event) ||
        rows.Group_Of(Usn_Field::CarvingFlag) != rows.Group_Of(Usn_Field::Event))
        throw std::logic_error("the journal facts read the event, attribute and carving texts as one tuple");

    // Each distinct text once; the rows then take their tuple's facts.
    const std::size_t times = rows.Tuple_Count(Usn_Field::TimeStamp);
    Seconds_Array time_seconds(times);
    ordered_time_.assign(times, 0);
    // Times are met in order: a text that differs from a well-formed one
    // before it in its seconds only is that one's time moved by the
    // difference of their seconds.
    std::u16string_view previous;
    for (std::uint32_t t = 0; t < times; ++t) {
        const std::u16string_view text = rows.Tuple_Field(t, Usn_Field::TimeStamp);
        if (t != 0 && ordered_time_[t - 1] != 0 && text.size() == previous.size() &&
            text.compare(0, 17, previous, 0, 17) == 0 && Is_Digit(text[17]) && Is_Digit(text[18]) && text[17] <= u'5') {
            time_seconds[t] = time_seconds[t - 1] + Two_Digits(text, 17) - Two_Digits(previous, 17);
            ordered_time_[t] = 1;
        } else {
            time_seconds[t] = Time_Text_Seconds(text);
            ordered_time_[t] = Is_Ordered_Time_Text(text, time_seconds[t]) ? 1 : 0;
        }
        previous = text;
    }
    seconds_.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) seconds_[i] = time_seconds[rows.Tuple_Id(i, Usn_Field::TimeStamp)];

    const std::size_t events = rows.Tuple_Count(Usn_Field::Event);
    events_.resize(events);
    std::u16string joined;
    for (std::uint32_t e = 0; e < events; ++e) {
        const std::u16string_view event = rows.Tuple_Field(e, Usn_Field::Event);
        Event_Facts& facts = events_[e];
        joined.clear();
        for (const Usn_Reason_Word& word : Usn_Reason_Words) {
            if (!Holds_Text(event, word.Word)) continue;
            facts.Reasons |= word.Bit;
            if (!joined.empty()) joined += Usn_Reloaded_Word_Separator;
            joined += word.Word;
        }
        if (joined == event) facts.Flags |= Canonical_Event;
        if (Holds_Text(event, Usn_Closed_Part)) facts.Flags |= Holds_Closed_Text;
        if (Holds_Text(event, Usn_Close_Part)) facts.Flags |= Holds_Close_Text;
        const std::u16string_view attr = rows.Tuple_Field(e, Usn_Field::FileAttr);
        if (Holds_Text(attr, Directory_Word)) facts.Flags |= Attr_Holds_Directory;
        if (attr == Directory_Word) facts.Flags |= Attr_Is_Directory;
        if (Holds_Text(attr, Not_Content_Indexed_Word)) facts.Flags |= Attr_Not_Content_Indexed;
        if (rows.Tuple_Field(e, Usn_Field::CarvingFlag) == u"Y") facts.Flags |= Carved_Record;
    }

    file_count_ = rows.Tuple_Count(Usn_Field::FileReferenceNumber);
    parent_count_ = rows.Tuple_Count(Usn_Field::ParentFileReferenceNumber);
    file_number_count_ = file_count_;
    bool reader_texts = true;
    for (std::uint32_t f = 0; f < file_count_ && reader_texts; ++f)
        reader_texts = Is_Reader_Reference_Text(rows.Tuple_Field(f, Usn_Field::FileReferenceNumber));
    if (!reader_texts) {
        // Texts written otherwise ("0x2A", "") may read as the number of
        // another text: such texts share one id.
        std::unordered_map<std::uint64_t, std::uint32_t> id_of_number;
        number_of_file_.resize(file_count_);
        for (std::uint32_t f = 0; f < file_count_; ++f) {
            const std::uint64_t number = platform::Read_Hexadecimal(rows.Tuple_Field(f, Usn_Field::FileReferenceNumber));
            number_of_file_[f] =
                id_of_number.try_emplace(number, static_cast<std::uint32_t>(id_of_number.size())).first->second;
        }
        file_number_count_ = id_of_number.size();
    }
}

int UsnJrnl_Facts::Compare_Time_Texts(std::size_t a, std::size_t b) const {
    const std::uint32_t ta = rows_.Tuple_Id(a, Usn_Field::TimeStamp);
    const std::uint32_t tb = rows_.Tuple_Id(b, Usn_Field::TimeStamp);
    if (ta == tb) return 0;
    if (ordered_time_[ta] != 0 && ordered_time_[tb] != 0) return seconds_[a] < seconds_[b] ? -1 : 1;
    return rows_.Field(a, Usn_Field::TimeStamp).compare(rows_.Field(b, Usn_Field::TimeStamp));
}

int UsnJrnl_Facts::Compare_Time_Texts(std::u16string_view text, std::int64_t text_seconds, std::size_t b) const {
    if (Ordered(b)) return text_seconds < seconds_[b] ? -1 : text_seconds > seconds_[b] ? 1 : 0;
    return text.compare(rows_.Field(b, Usn_Field::TimeStamp));
}

std::size_t UsnJrnl_Facts::Memory_Bytes() const {
    return seconds_.capacity() * sizeof(std::int64_t) + ordered_time_.capacity() + events_.capacity() * sizeof(Event_Facts) +
           number_of_file_.capacity() * sizeof(std::uint32_t);
}
