// The $UsnJrnl:$J reader (-u) and its twin, the record carver (-n): both scan
// a file for version 2.0 change-journal records at fixed steps, decode each
// one into a UsnJrnl row and insert the rows of the file in one transaction.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/usnjrnl/Usn_Record.h"
#include "output/Time_Text.h"
#include "platform/Byte_View.h"
#include "records/Records.h"

// How the rows of a scanned file reach the database. Either way the same rows
// are stored in the same order, inside the one transaction of the file.
struct Usn_Stage_Options {
    // True: the records are decoded and their rows made on a thread of their
    // own, which hands them in batches through a bounded queue to the calling
    // thread, the only one that touches the database. False: the calling
    // thread does it all, inserting the rows in the same batches.
    bool Decode_On_Own_Thread = true;
    // Files shorter than this are decoded on the calling thread all the same:
    // they hold too few records to gain from a second thread, and a source
    // folder of many small files would pay for a thread per file.
    std::uint64_t Own_Thread_From_Bytes = Usn_Scan::Chunk_Size;
    // Rows in one batch, and batches the queue holds before the decoding
    // thread waits for the inserts.
    std::size_t Batch_Rows = 4096;
    std::size_t Queued_Batches = 4;
};

// Decodes an extracted $UsnJrnl:$J into UsnJrnl rows; tests every 8th byte.
// Returns 0 in every case (a file that cannot be opened yields no rows).
int Parse_UsnJrnl(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                  const Usn_Stage_Options& options = {});

// Carves change-journal records out of any file, testing every `alignment`th
// byte of each chunk (the grid restarts at every chunk start); the rows carry
// CarvingFlag "Y". Returns 0 in every case.
int Carve_UsnJrnl_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                          int hour_offset, int alignment, const Usn_Stage_Options& options = {});

// The USN as "%I64u" and a file reference as "0x%.16llX" (16 upper-case
// digits), written into `out` (the row's texts are reused for every record).
void Put_Usn_Decimal_Text(std::uint64_t value, std::u16string& out);
void Put_Usn_Reference_Text(std::uint64_t reference, std::u16string& out);

// Turns decoded records into UsnJrnl rows for one file: the time text shifted
// by context.Hour_Offset, the reason and attribute words, the reference texts
// and the full path through the $MFT index.
class UsnJrnl_Row_Builder {
public:
    // The time texts are shifted by context.Hour_Offset as it is now.
    UsnJrnl_Row_Builder(Global_Parsing_Context& context, std::u16string_view carving_flag)
        : context_(context), carving_flag_(carving_flag), time_texts_(context.Hour_Offset) {}

    // Sets all ten texts of `row`.
    void Fill(const Usn_Record_V2& record, _USNJRNLINFO& row);

private:
    // The FullPath of a record named `file_name` under `parent_reference`,
    // into `path`: "" when the given $MFT could not be opened; "\" + name
    // under the root (entry 5, any sequence number); else the parent's indexed
    // path (its whole reference must match) + "\" + name, or "" when the
    // parent has none.
    void Build_Path(std::uint64_t parent_reference, std::u16string_view file_name, std::u16string& path);

    Global_Parsing_Context& context_;
    std::u16string carving_flag_;
    Shifted_Time_Text_Maker time_texts_;
};
