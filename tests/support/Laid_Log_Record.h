// A record built for the analysis (Log_Record_Builder.h) in the form the
// record walk reads from the log's pages (LogFile_Builder.h), so that a test
// or bench can lay analysis fixtures into a whole $LogFile.
#pragma once

#include <cstdint>

#include "support/LogFile_Builder.h"
#include "support/Log_Record_Builder.h"

namespace test_support {

inline logfile_test::Log_Record Laid_In_Log(const log_record_test::Log_Record& r, std::uint64_t lsn,
                                            std::uint32_t transaction_id) {
    logfile_test::Log_Record out;
    out.lsn = lsn;
    out.record_type = r.record_type;
    out.transaction_id = transaction_id;
    out.redo_operation = r.redo_operation;
    out.undo_operation = r.undo_operation;
    out.target_attribute = 0x18;
    out.record_offset = r.record_offset;
    out.attribute_offset = r.attribute_offset;
    out.cluster_index = r.cluster_index;
    out.target_vcn = r.target_vcn;
    out.redo = r.redo;
    out.undo = r.undo;
    return out;
}

}  // namespace test_support
