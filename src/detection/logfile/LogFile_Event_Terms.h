// What the $LogFile rules mean by an event's LSN, by "the same file" and by
// the name a finding shows. Events are read in place from the reloaded rows;
// the event texts tested are the ones the log analysis writes (Log_Event).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "detection/Rule_Terms.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "platform/text.h"
#include "records/Compact_Rows.h"

// The event's LSN text read as an unsigned decimal number; a text that is not
// a number reads as 0.
inline std::uint64_t Lsn_Of(const Log_Info_Rows& rows, std::size_t i) {
    return platform::Read_Unsigned_Decimal(rows.Field(i, Log_Field::LSN));
}

// Two events concern the same file when they target the same FILE record: the
// same TargetVCN and cluster-index texts.
inline bool Same_File(const Log_Info_Rows& rows, std::size_t i, std::size_t j) {
    return rows.Field(i, Log_Field::TargetVCN) == rows.Field(j, Log_Field::TargetVCN) &&
           rows.Field(i, Log_Field::ClusterIndex) == rows.Field(j, Log_Field::ClusterIndex);
}

// A name the log analysis guessed carries " <Guessed>" at its end; a finding
// names the file without the mark and the blank before it.
inline std::u16string_view Without_Guessed_Mark(std::u16string_view file_name) {
    const std::size_t mark = file_name.find(u"<Guessed>");
    if (mark == std::u16string_view::npos) return file_name;
    return file_name.substr(0, mark == 0 ? 0 : mark - 1);
}
