// The reloaded journal read once into typed facts, kept beside the rows: each
// record's time as whole seconds, its file and parent references as dense
// ids, its reason and attribute words as bits and its carving flag. The
// journal rules test these; they read a row's texts only where they look at
// characters (names, paths, messages).
//
// Every fact answers exactly what the text test it stands for answers, for
// any text: a reason bit is set when the Event text holds the word (the
// rules' substring test), an Event "is" a set of words only when the text is
// exactly those words joined as the journal reader joins them, and two time
// texts are ordered by their seconds only when both are well-formed (else by
// their texts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "detection/usnjrnl/UsnJrnl_Working_Objects.h"
#include "ntfs/usnjrnl/Usn_Reason_Words.h"
#include "records/Compact_Rows.h"

class UsnJrnl_Facts {
public:
    explicit UsnJrnl_Facts(const UsnJrnl_Info_Rows& rows);
    UsnJrnl_Facts(const UsnJrnl_Facts&) = delete;
    UsnJrnl_Facts& operator=(const UsnJrnl_Facts&) = delete;

    std::size_t size() const { return seconds_.size(); }

    // TimeStamp as whole seconds (Time_Text_Seconds).
    std::int64_t Seconds(std::size_t i) const { return seconds_[i]; }
    const Seconds_Array& All_Seconds() const { return seconds_; }
    // The TimeStamp texts of records a and b in text order: negative when
    // a's comes first, 0 when they are equal, positive when b's does.
    int Compare_Time_Texts(std::size_t a, std::size_t b) const;
    bool Time_Text_Less(std::size_t a, std::size_t b) const { return Compare_Time_Texts(a, b) < 0; }
    // The same for `text` (of `text_seconds` seconds, well-formed) and record
    // b's.
    int Compare_Time_Texts(std::u16string_view text, std::int64_t text_seconds, std::size_t b) const;

    // FileReferenceNumber and ParentFileReferenceNumber as dense ids: equal
    // texts, equal ids.
    std::uint32_t File(std::size_t i) const { return rows_.Tuple_Id(i, Usn_Field::FileReferenceNumber); }
    std::uint32_t Parent(std::size_t i) const { return rows_.Tuple_Id(i, Usn_Field::ParentFileReferenceNumber); }
    std::size_t File_Count() const { return file_count_; }
    std::size_t Parent_Count() const { return parent_count_; }
    std::u16string_view File_Text(std::uint32_t file) const {
        return rows_.Tuple_Field(file, Usn_Field::FileReferenceNumber);
    }
    // The FileReferenceNumber as the number it reads as (hexadecimal), as a
    // dense id: equal numbers, equal ids. The same as File() when every text
    // is written as the journal reader writes it ("0x" and 16 digits).
    std::uint32_t File_Number(std::size_t i) const { return Number_Of_File(File(i)); }
    std::uint32_t Number_Of_File(std::uint32_t file) const {
        return number_of_file_.empty() ? file : number_of_file_[file];
    }
    std::size_t File_Number_Count() const { return file_number_count_; }

    // The reason words the Event text holds.
    std::uint32_t Reasons(std::size_t i) const { return Event_Of(i).Reasons; }
    bool Holds(std::size_t i, std::uint32_t bit) const { return (Reasons(i) & bit) != 0; }
    bool Holds_All(std::size_t i, std::uint32_t bits) const { return (Reasons(i) & bits) == bits; }
    // The Event text is exactly the words of `bits` joined, read without the
    // storage-class word: Windows 10 adds it, on tiered storage, to records
    // that are otherwise what they always were (a record that only creates
    // its file is still one).
    bool Event_Is(std::size_t i, std::uint32_t bits) const {
        const Event_Facts& e = Event_Of(i);
        return (e.Flags & Canonical_Event) != 0 &&
               (e.Reasons & ~Usn_Reason_Bit::Desired_Storage_Class_Change) == bits;
    }
    // The Event text holds "Closed", and "Close".
    bool Holds_Closed(std::size_t i) const { return (Event_Of(i).Flags & Holds_Closed_Text) != 0; }
    bool Holds_Close(std::size_t i) const { return (Event_Of(i).Flags & Holds_Close_Text) != 0; }
    // FileAttr holds "Directory"; is exactly "Directory"; holds
    // "Not_Content_Indexed".
    bool Directory_Attribute(std::size_t i) const { return (Event_Of(i).Flags & Attr_Holds_Directory) != 0; }
    bool Attributes_Are_Directory(std::size_t i) const { return (Event_Of(i).Flags & Attr_Is_Directory) != 0; }
    bool Not_Content_Indexed(std::size_t i) const { return (Event_Of(i).Flags & Attr_Not_Content_Indexed) != 0; }
    // CarvingFlag is "Y".
    bool Carved(std::size_t i) const { return (Event_Of(i).Flags & Carved_Record) != 0; }

    std::size_t Memory_Bytes() const;

private:
    enum : std::uint8_t {
        Canonical_Event = 1,
        Holds_Closed_Text = 2,
        Holds_Close_Text = 4,
        Attr_Holds_Directory = 8,
        Attr_Is_Directory = 16,
        Attr_Not_Content_Indexed = 32,
        Carved_Record = 64,
    };
    struct Event_Facts {
        std::uint32_t Reasons = 0;
        std::uint8_t Flags = 0;
    };
    const Event_Facts& Event_Of(std::size_t i) const { return events_[rows_.Tuple_Id(i, Usn_Field::Event)]; }
    bool Ordered(std::size_t i) const { return ordered_time_[rows_.Tuple_Id(i, Usn_Field::TimeStamp)] != 0; }

    const UsnJrnl_Info_Rows& rows_;
    Seconds_Array seconds_;
    // Per TimeStamp text: 1 when well-formed, so that text order is the
    // order of the seconds.
    platform::Large_Vector<std::uint8_t> ordered_time_;
    // Per tuple of (Event, SourceInfo, FileAttr, CarvingFlag).
    std::vector<Event_Facts> events_;
    std::size_t file_count_ = 0;
    std::size_t parent_count_ = 0;
    // Empty when every number has one text.
    Index_Array number_of_file_;
    std::size_t file_number_count_ = 0;
};
