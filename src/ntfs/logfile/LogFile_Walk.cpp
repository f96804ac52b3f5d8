#include "ntfs/logfile/LogFile_Walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <variant>

#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/mft/Parse_MFT.h"
#include "output/Event_Tables.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

namespace Layout = Log_Record_Layout;

constexpr std::size_t Page_Size = LogFile_Page_Size;
constexpr std::size_t Data_Start = LogFile_Page_Data_Start;
constexpr std::size_t Data_Size = LogFile_Page_Data_Size;
// A record may be analysed when its client data ends at the latest on the
// page after the one its header is on, so it never exceeds two data areas.
constexpr std::size_t Client_Capacity = 8192;
static_assert(2 * Data_Size <= Client_Capacity);
// The walk treats two LSNs as close when they agree in all but their low
// three bytes (bytes 3 to 7 of the u64).
constexpr unsigned Close_Lsn_Shift = 24;

bool Close_Lsns(std::uint64_t left, std::uint64_t right) {
    return (left >> Close_Lsn_Shift) == (right >> Close_Lsn_Shift);
}

bool All_Bytes(std::span<const std::uint8_t> bytes, std::uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t byte) { return byte == value; });
}

// Where the walk goes on: page `page` of the list at offset `offset`, or the
// end of the walk.
struct Position {
    std::size_t page = 0;
    std::size_t offset = Data_Start;
    bool end = false;
};

class Record_Walk {
public:
    Record_Walk(Global_Parsing_Context& context, CppSQLite3DB& db, const std::vector<_page_info>& pages,
                const Page_Reader& read_page, const Log_Walk_Settings& settings)
        : context_(context), db_(db), pages_(pages), read_page_(read_page), settings_(settings) {}

    void Run();

private:
    // Where the header of the record to take lies: put together from the end
    // of the previous page and the start of this one, or whole on this page.
    struct Header_Place {
        bool Crossed = false;
        std::size_t Offset = 0;  // on this page, when not crossed
    };
    // A header to take (now in header_), or where the walk goes on.
    using Header_Found = std::variant<Header_Place, Position>;

    // The records of page `page` from `offset` on.
    Position Walk_Page(std::size_t page, std::size_t offset);
    // Finds the header of the next record: the one crossing into the page,
    // the one at `offset`, or the one a search takes in place of a header that
    // fails its test.
    Header_Found Find_Header(std::size_t page, std::size_t offset);
    Header_Found Find_Crossing_Header(std::size_t page, std::size_t offset);
    // The header at `offset`, found by a search: whole on the page, or crossing.
    Header_Found Take_Header_At(std::size_t page, std::size_t offset);
    // True when the header at the walk's offset cannot be the next record.
    bool Fails_Test(std::size_t page, const Log_Record_Header& header) const;
    // Gives the record of header_ its fields and client data, and finishes it
    // when its data is in hand; where the walk goes on (page `page` itself when
    // another record may follow on it).
    Position Place_Client_Data(std::size_t page, const Header_Place& place);
    // The first header of the page's last end LSN sequence; 0 when none or
    // when the last end LSN is 0.
    std::size_t Search_By_Last_End_Lsn() const;
    // The carver's search onward from `offset`, by the page's last end LSN; 0 when none.
    std::size_t Search_Onward(std::size_t offset) const {
        return static_cast<std::size_t>(Find_Next_Record_In_Page(view_, static_cast<int>(offset), settings_.Shift));
    }
    Position Next_Page(std::size_t page) const { return Position{page + 1, Data_Start, false}; }
    // Keeps the part of a header that the page end cuts off.
    Position Begin_Crossing(std::size_t page, std::size_t offset);
    // The header at `offset` on the page; nothing when it runs past the page end.
    std::optional<Log_Record_Header> Header_At(std::size_t offset) const {
        return Decode_Log_Record_Header(Byte_View(page_.data() + offset, Page_Size - offset));
    }
    void Fill_Header_Fields(std::uint64_t redo_data_offset);
    void Append_Client(std::span<const std::uint8_t> bytes);
    void Analyze_And_Finish();
    void Finish(bool analysed);

    Global_Parsing_Context& context_;
    CppSQLite3DB& db_;
    const std::vector<_page_info>& pages_;
    const Page_Reader& read_page_;
    const Log_Walk_Settings& settings_;

    std::array<std::uint8_t, Page_Size> page_{};
    Byte_View view_{page_.data(), page_.size()};

    std::uint64_t last_lsn_ = 0;  // the LSN of the last accepted record
    bool first_found_ = false;
    std::size_t first_page_ = 0;  // the page where the walk found its first record
    bool first_header_ = false;

    // A header cut by the previous page's end: its first part and where it began.
    bool crossing_ = false;
    std::array<std::uint8_t, Layout::Header_Size> cross_part_{};
    std::size_t cross_length_ = 0;
    std::size_t cross_start_ = 0;
    std::uint64_t cross_page_offset_ = 0;

    // A record whose client data goes on into the next page.
    bool continuing_ = false;
    std::size_t awaited_ = 0;

    // The header of the record in hand.
    Log_Record_Header header_;
    std::array<std::uint8_t, Client_Capacity> client_{};
    std::size_t client_length_ = 0;   // bytes of client data in hand
    std::size_t client_expected_ = 0; // the record's client data length, capped
    _log_info cur_;
    _log_info prev_;
};

void Record_Walk::Run() {
    std::size_t page = 0;
    std::size_t offset = Data_Start;
    while (page < pages_.size()) {
        if (!read_page_(pages_[page].FileOffset, page_)) break;
        // An unwritten (0xFF) page ends the log.
        if (All_Bytes(std::span(page_).first(8), 0xFF)) break;
        Apply_Update_Sequence(page_);

        if (!first_found_) {
            const std::size_t found = Search_By_Last_End_Lsn();
            if (found == 0) {
                ++page;
                offset = Data_Start;
                continue;
            }
            offset = found;
            first_page_ = page;
            first_found_ = true;
        }
        if (continuing_) {
            continuing_ = false;
            Append_Client(std::span(page_).subspan(Data_Start, awaited_));
            Analyze_And_Finish();
            offset = Data_Start + awaited_;
            if (Page_Size - offset < Layout::Client_Data_Start) {
                ++page;
                offset = Data_Start;
                continue;
            }
        }
        first_header_ = true;
        const Position next = Walk_Page(page, offset);
        if (next.end) break;
        const bool lost_rest = (continuing_ || crossing_) && pages_[page].Followed_By_Unwritten_Page;
        page = next.page;
        offset = next.offset;
        if (lost_rest) {
            // The rest of the record lay in a page never written: it gives
            // no row, as at the end of the log. The walk goes on where it
            // would have, where a header that fails its test is searched past.
            continuing_ = false;
            crossing_ = false;
        }
    }
    // A record whose client data is still awaited (or whose header is still
    // being put together) when the log ends is unfinished and gives no row:
    // a name from the $MFT alone would otherwise make a row without event.
    continuing_ = false;
    crossing_ = false;
}

std::size_t Record_Walk::Search_By_Last_End_Lsn() const {
    const std::uint64_t last_end = view_.Read_U64(Record_Page_Layout::Last_End_Lsn).value_or(0);
    if (last_end == 0) return 0;
    return static_cast<std::size_t>(Find_First_Record_In_Page(view_, settings_.Shift, last_end));
}

Position Record_Walk::Begin_Crossing(std::size_t page, std::size_t offset) {
    cross_length_ = Page_Size - offset;
    std::memcpy(cross_part_.data(), page_.data() + offset, cross_length_);
    cross_start_ = offset;
    cross_page_offset_ = pages_[page].FileOffset;
    crossing_ = true;
    last_lsn_ = Byte_View(cross_part_.data(), cross_length_).Read_U64(Layout::This_Lsn).value_or(last_lsn_);
    return Next_Page(page);
}

Position Record_Walk::Walk_Page(std::size_t page, std::size_t offset) {
    for (;;) {
        const Header_Found found = Find_Header(page, offset);
        if (const Position* next = std::get_if<Position>(&found)) return *next;
        const Position next = Place_Client_Data(page, std::get<Header_Place>(found));
        // Only a record that ends on this page, with room for another after
        // it, goes on here.
        if (next.end || next.page != page) return next;
        offset = next.offset;
    }
}

Record_Walk::Header_Found Record_Walk::Find_Header(std::size_t page, std::size_t offset) {
    if (crossing_) return Find_Crossing_Header(page, offset);

    const std::optional<Log_Record_Header> at = Header_At(offset);
    if (!at) return Begin_Crossing(page, offset);
    if (at->This_Lsn == All_Ones_Lsn) return Next_Page(page);
    if (!Fails_Test(page, *at)) {
        first_header_ = false;
        header_ = *at;
        return Header_Place{false, offset};
    }
    // A header that fails its test: the first of the page is looked for again
    // by the page's last end LSN; a later one, by the carver only, onward.
    std::size_t found = 0;
    if (first_header_)
        found = Search_By_Last_End_Lsn();
    else if (settings_.Rule == Failing_Header_Rule::Search_Onward)
        found = Search_Onward(offset);
    if (found == 0) return Next_Page(page);
    first_header_ = false;
    return Take_Header_At(page, found);
}

Record_Walk::Header_Found Record_Walk::Find_Crossing_Header(std::size_t page, std::size_t offset) {
    crossing_ = false;
    // The header as if this page's data area followed the previous page directly.
    std::array<std::uint8_t, Layout::Header_Size> joined{};
    std::memcpy(joined.data(), cross_part_.data(), cross_length_);
    std::memcpy(joined.data() + cross_length_, page_.data() + Data_Start, Layout::Header_Size - cross_length_);
    // `joined` holds a whole header, so it always decodes.
    header_ = *Decode_Log_Record_Header(Byte_View(joined));
    if (header_.This_Lsn == All_Ones_Lsn) return Next_Page(page);
    if (header_.Client_Data_Length >= header_.Redo_Offset) return Header_Place{true, 0};
    // Client data that would end before its redo data starts: no header. The
    // reader looks again from the page's last end LSN, the carver onward
    // from `offset`.
    const std::size_t found =
        settings_.Rule == Failing_Header_Rule::Give_Up_Page ? Search_By_Last_End_Lsn() : Search_Onward(offset);
    if (found == 0) return Next_Page(page);
    return Take_Header_At(page, found);
}

Record_Walk::Header_Found Record_Walk::Take_Header_At(std::size_t page, std::size_t offset) {
    const std::optional<Log_Record_Header> at = Header_At(offset);
    if (!at) return Begin_Crossing(page, offset);
    header_ = *at;
    return Header_Place{false, offset};
}

bool Record_Walk::Fails_Test(std::size_t page, const Log_Record_Header& header) const {
    const bool give_up = settings_.Rule == Failing_Header_Rule::Give_Up_Page;
    // An LSN of 0 fails, except for the reader's first header of a page,
    // which is judged like any other.
    if (header.This_Lsn == 0 && (!first_header_ || !give_up)) return true;
    const bool comparable = Close_Lsns(header.This_Lsn, last_lsn_) || page == first_page_;
    return !(comparable && header.This_Lsn >= last_lsn_ && header.Client_Data_Length != 0);
}

Position Record_Walk::Place_Client_Data(std::size_t page, const Header_Place& place) {
    const _page_info& info = pages_[page];
    cur_ = _log_info{};
    client_length_ = 0;
    // Where the record's client data lies: on this page from `client_start`
    // (after `saved_client` bytes kept from the previous page), and where the
    // record ends, measured on this page.
    std::size_t saved_client = 0;
    std::size_t client_start = 0;
    std::uint64_t end = 0;
    std::uint64_t redo_data_offset = 0;
    if (place.Crossed) {
        // Client data starts 0x30 bytes into the joined header; part of it
        // may still lie in the bytes kept from the previous page.
        saved_client = cross_length_ > Layout::Client_Data_Start ? cross_length_ - Layout::Client_Data_Start : 0;
        client_start = Data_Start + (Layout::Client_Data_Start - (cross_length_ - saved_client));
        const std::uint64_t record_length = Layout::Client_Data_Start + std::uint64_t{header_.Client_Data_Length};
        end = record_length >= cross_length_ ? Data_Start + record_length - cross_length_ : Data_Start;
        const std::uint64_t redo_at = Layout::Client_Data_Start + std::uint64_t{header_.Redo_Offset};
        redo_data_offset = redo_at < cross_length_ ? cross_page_offset_ + cross_start_ + redo_at
                                                   : info.FileOffset + Data_Start + (redo_at - cross_length_);
    } else {
        client_start = place.Offset + Layout::Client_Data_Start;
        end = client_start + std::uint64_t{header_.Client_Data_Length};
        redo_data_offset = info.FileOffset + client_start + header_.Redo_Offset;
    }

    last_lsn_ = header_.This_Lsn;
    Fill_Header_Fields(redo_data_offset);
    Fill_Mft_Entry_Fields(context_, cur_);

    client_expected_ = std::min<std::size_t>(header_.Client_Data_Length, Client_Capacity);
    if (saved_client > 0) Append_Client(std::span(cross_part_).subspan(Layout::Client_Data_Start, saved_client));

    if (end <= Page_Size) {
        Append_Client(std::span(page_).subspan(client_start, static_cast<std::size_t>(end) - client_start));
        Analyze_And_Finish();
        if (end == Page_Size) return Next_Page(page);
        const auto offset = static_cast<std::size_t>(end);
        if (Page_Size - offset < Layout::Client_Data_Start) return Next_Page(page);
        if (All_Bytes(std::span(page_).subspan(offset, 16), 0)) return Next_Page(page);
        if (last_lsn_ == info.LastLSN) return Next_Page(page);
        // After a record completed from a header that crossed into the
        // first page of the log's first run, the walk moves E on to the
        // next LSN block, so only a newer block continues on this page.
        if (info.FirstPageFlag == 1 && first_header_) {
            last_lsn_ = ((last_lsn_ >> Close_Lsn_Shift) + 1) << Close_Lsn_Shift;
            first_header_ = false;
        }
        // At least Client_Data_Start bytes are left, so the next LSN is on the page.
        if (!Close_Lsns(view_.Read_U64(offset + Layout::This_Lsn).value_or(0), last_lsn_)) return Next_Page(page);
        return Position{page, offset, false};
    }

    const std::uint64_t overflow = end - Page_Size;  // X
    const std::uint64_t whole_pages = overflow / Data_Size;  // k
    if (whole_pages == 0) {
        Append_Client(std::span(page_).subspan(client_start));
        awaited_ = static_cast<std::size_t>(overflow);
        continuing_ = true;
        return Position{page + 1, Data_Start + awaited_, false};
    }
    // Client data spread over further whole pages is not put together:
    // the record is kept without analysis and the walk goes on where it ends.
    Finish(false);
    std::size_t next_page = page + 1;
    if (whole_pages > pages_.size()) return Position{pages_.size(), Data_Start, true};
    next_page += static_cast<std::size_t>(whole_pages);
    std::size_t next_offset = Data_Start + static_cast<std::size_t>(overflow - whole_pages * Data_Size);
    if (Page_Size - next_offset < Layout::Client_Data_Start) {
        ++next_page;
        next_offset = Data_Start;
    }
    return Position{next_page, next_offset, false};
}

void Record_Walk::Fill_Header_Fields(std::uint64_t redo_data_offset) {
    const Log_Record_Header& h = header_;
    cur_.LSN = platform::Unsigned_Decimal_Text(h.This_Lsn);
    cur_.ThisLSN = h.This_Lsn;
    cur_.RecordType = LogFile_Record_Type_Text(h.Record_Type, h.Redo_Operation);
    // Written out directly rather than through Format: four per record.
    cur_.TransactionID = platform::Hex_Text(h.Transaction_Id);
    cur_.ClusterIndex = platform::Hex_Text(h.Cluster_Index);
    cur_.TargetVCN = platform::Hex_Text(static_cast<std::uint32_t>(h.Target_Vcn));
    cur_.RedoInfo = LogFile_Operation_Name(h.Redo_Operation);
    cur_.UndoInfo = LogFile_Operation_Name(h.Undo_Operation);
    cur_.Redo_Operation = h.Redo_Operation;
    cur_.Undo_Operation = h.Undo_Operation;
    cur_.RedoDataOffset = redo_data_offset;
    cur_.RedoDataLength = h.Redo_Length;
    cur_.UndoDataLength = h.Undo_Length;
    cur_.MFT_ClusterIndex = h.Cluster_Index;
}

void Record_Walk::Append_Client(std::span<const std::uint8_t> bytes) {
    // Only the record's own client data, and never past the buffer.
    const std::size_t room = client_expected_ > client_length_ ? client_expected_ - client_length_ : 0;
    const std::size_t take = std::min(bytes.size(), room);
    std::memcpy(client_.data() + client_length_, bytes.data(), take);
    client_length_ += take;
}

void Record_Walk::Analyze_And_Finish() {
    const Client_Data_View data(std::span<const std::uint8_t>(client_.data(), client_length_), header_.Redo_Offset);
    settings_.Analyze(header_, cur_, prev_, data);
    client_length_ = 0;
    Finish(true);
}

void Record_Walk::Finish(bool analysed) {
    if (!cur_.FileName.empty() || !cur_.Event.empty()) {
        Insert_LogFile_Row(db_, cur_);
        context_.LogFile_Row_Array.push_back(cur_);
    }
    // The record becomes the previous one; the next record starts from an
    // empty one anyway, so it is moved there rather than copied.
    prev_ = std::move(cur_);
    if (settings_.Observe) settings_.Observe(prev_, analysed);
}

}  // namespace

Page_Reader File_Page_Reader(const platform::Read_Only_File& file) {
    return [&file](std::uint64_t file_offset, std::span<std::uint8_t> page) {
        return file.Read_Block(file_offset, page.data(), page.size());
    };
}

void Walk_Log_Records(Global_Parsing_Context& context, CppSQLite3DB& db, const std::vector<_page_info>& pages,
                      const Page_Reader& read_page, const Log_Walk_Settings& settings) {
    Record_Walk(context, db, pages, read_page, settings).Run();
}

void Fill_Mft_Entry_Fields(Global_Parsing_Context& context, _log_info& record) {
    std::u16string name;
    std::u16string path;
    if (Lookup_MFT_Entry_By_LSN(context, record.ThisLSN, &name, &path) == 0) return;
    record.FileName = name;
    record.FullPath = path;
    const _ENTRYINFO_2* entry = context.Mft.Find_By_LSN(record.ThisLSN);
    if (entry == nullptr) return;
    const auto shifted = [&](std::uint64_t filetime) {
        // Moved before it is formatted, so a year above 9999 is moved too.
        return Shifted_FileTime_Text(filetime, context.Hour_Offset);
    };
    record.CreateTime = shifted(entry->CreateTime);
    record.ModifiedTime = shifted(entry->ModifiedTime);
    record.MFT_ModifiedTime = shifted(entry->MFT_ModifiedTime);
    record.AccessTime = shifted(entry->AccessTime);
}

namespace {

// A stable sort by LSN. The walk mostly leaves the rows in that order already,
// and a row is large (some twenty texts), so the rows are moved once, to their
// places, rather than step by step by the sort.
void Sort_Rows_By_Lsn(std::vector<_log_info>& rows) {
    const auto by_lsn = [](const _log_info& left, const _log_info& right) { return left.ThisLSN < right.ThisLSN; };
    if (std::is_sorted(rows.begin(), rows.end(), by_lsn)) return;
    std::vector<std::size_t> order(rows.size());
    for (std::size_t place = 0; place < order.size(); ++place) order[place] = place;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t left, std::size_t right) { return rows[left].ThisLSN < rows[right].ThisLSN; });
    std::vector<_log_info> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t place : order) sorted.push_back(std::move(rows[place]));
    rows = std::move(sorted);
}

}  // namespace

int Backfill_Event_Times(Global_Parsing_Context& context, CppSQLite3DB& db) {
    std::vector<_log_info>& rows = context.LogFile_Row_Array;
    Sort_Rows_By_Lsn(rows);
    std::u16string latest;
    double previous_time = Date_Type_Mismatch;  // "no timed row yet"
    std::vector<std::size_t> pending;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::u16string& event_time = rows[row].EventTime;
        if (latest < event_time) latest = event_time;
        if (event_time.empty()) {
            pending.push_back(row);
            continue;
        }
        const double time = Parse_Time_Text_As_Date(event_time);
        if (!pending.empty() && previous_time != Date_Type_Mismatch) {
            const std::int64_t seconds = Date_Difference_Seconds(time, previous_time);
            if ((seconds == 0 || seconds == 1) && event_time == latest) {
                for (const std::size_t waiting : pending) {
                    const Row_Update_Values values{.LSN = rows[waiting].LSN, .EventTime = event_time};
                    if (!Update_Earlier_Row(db, Row_Update::EventTime, values)) return 1;
                }
            }
        }
        pending.clear();
        previous_time = time;
    }
    return 0;
}
