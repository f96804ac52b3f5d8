#include "carving/Carved_Page_List.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "ntfs/logfile/LogFile_Replay.h"
#include "platform/arithmetic.h"

namespace {

constexpr std::uint64_t Page = LogFile_Page_Size;
// Sequence numbers compared when the normal area is rebuilt are cut to 32 bits.
constexpr std::uint64_t Sequence_Mask = 0xFFFFFFFFull;
// Version 1.1: two restart pages, two buffer pages (file pages 2 and 3), the
// normal area from file page 4.
constexpr std::uint64_t V11_Buffer_Page_0 = 2 * Page, V11_Buffer_Page_1 = 3 * Page, V11_Normal_Start = 4 * Page;
// Version 2.0: two restart pages, 32 buffer pages (file pages 2 to 33), the
// normal area from file page 34.
constexpr std::uint64_t V20_Buffer_First = 2 * Page, V20_Buffer_Last = 33 * Page, V20_Normal_Start = 34 * Page;
// Runs of non-decreasing LSNs that mark where a log's normal area begins
// when the restart pages cannot tell.
constexpr std::size_t V11_Run_Length = 3, V20_Run_Length = 32;
// When the one restart page found is a 2.0 log's second, the page 33 pages
// after it is the log's first normal page, whose last end LSN points into
// itself: at log offsets 0x22001 to 0x22FFF.
constexpr std::uint64_t V20_Second_Form_Low = 0x22001, V20_Second_Form_High = 0x22FFF;
// Two buffer copies of a 1.1 log begin with the same record bytes.
constexpr std::size_t Copy_Compare_Offset = 0x40, Copy_Compare_Size = 64;
constexpr unsigned Default_Shift = 24;
constexpr std::size_t No_Index = static_cast<std::size_t>(-1);

// The LSN with its top `bits` bits (the sequence number) cleared.
std::uint64_t Offset_Part(std::uint64_t lsn, std::uint32_t bits) { return bits >= 64 ? 0 : (lsn << bits) >> bits; }

_page_info Carved_Entry(std::uint64_t file_offset, std::uint64_t last_lsn, std::uint64_t last_end_lsn = 0) {
    _page_info page;
    page.LastLSN = last_lsn;
    page.LastEndLSN = last_end_lsn;
    page.FileOffset = file_offset;
    return page;
}

bool Unwritten(std::span<const std::uint8_t> page) {
    return std::all_of(page.begin(), page.begin() + 8, [](std::uint8_t b) { return b == 0xFF; });
}

// The two sequence numbers that the pages of a rebuilt area are searched for.
struct Sequences {
    std::uint64_t a = No_Sequence;
    std::uint64_t b = No_Sequence;
};

// The log's own pages among those the scan listed.
std::span<const _page_info> Pages_Of(const std::vector<_page_info>& scanned, const Carved_Log& log) {
    const std::size_t first = std::min(log.First_Page, scanned.size());
    return std::span<const _page_info>(scanned).subspan(first, std::min(log.Page_Count, scanned.size() - first));
}

// A buffer-page candidate of a 1.1 log and the value it is chosen by.
struct Candidate {
    _page_info page;
    std::uint64_t value = 0;
    bool scanned = false;
};

class Carved_List_Builder {
public:
    Carved_List_Builder(Global_Parsing_Context& context, const Carving_Scan& scan, const Carved_Log& log,
                        const Page_Reader& read_page)
        : context_(context),
          log_(log),
          file_size_(scan.File_Size),
          read_page_(read_page),
          scanned_(Pages_Of(context.Scanned_Page_Array, log)),
          shift_(log.Restart ? log.Restart->Lsn_Shift : Default_Shift),
          bits_(log.Restart ? log.Restart->Sequence_Number_Bits : 0) {}

    unsigned Build();

private:
    void Build_V11(std::uint64_t lower);
    void Build_V11_One_Restart_Page();
    void Build_V11_Fallback();
    void Build_V20(std::uint64_t lower);
    void Build_V20_One_Restart_Page();
    void Build_V20_Fallback();
    void Build_Without_Restart_Page();

    // Whether a page at `offset` is part of the log: it starts inside the
    // file and ends before the next log begins.
    bool In_Log(std::uint64_t offset) const {
        return offset < file_size_ && log_.Next_Base >= Page && offset <= log_.Next_Base - Page;
    }
    // Reads the page at `offset` (zeros outside the log or when it cannot be
    // read).
    std::span<std::uint8_t> Read(std::uint64_t offset);
    // The last LSN of sequence a, else b, on the page at `offset`.
    std::optional<std::uint64_t> Last_Lsn_At(std::uint64_t offset, Sequences sequences, bool bounded);
    // The scanned page at `offset` among the first `below` scanned pages.
    const _page_info* Scanned_At(std::uint64_t offset, std::size_t below = No_Index) const;
    // The index of the first scanned page at or after `offset`; 0 when none is.
    std::size_t First_Scanned_From(std::uint64_t offset) const;
    Sequences Sequences_From(std::size_t s) const;

    // The normal area from `first` to base + log size - `end_margin`, holes
    // filled, cut into runs.
    Run_Bounds Rebuild_Normal_Area(std::uint64_t first, std::uint64_t end_margin, std::size_t s, Sequences sequences);
    // The scanned pages from k on with the pages of their gaps that hold an
    // LSN of the pages around them, cut into runs.
    Run_Bounds Build_From_Run_Start(std::size_t k);
    void Fill_Gap(const _page_info& previous, const _page_info& next, std::vector<_page_info>& out);

    // At most one buffer page of a 1.1 log after the runs.
    void Append_V11_Buffer_Page(std::size_t s, std::uint64_t largest, std::uint64_t lower, Sequences sequences);
    void Append_Chosen(const std::vector<Candidate>& candidates, std::uint64_t largest);
    Candidate Scanned_Candidate(std::size_t index) const {
        return Candidate{scanned_[index], scanned_[index].LastEndLSN, true};
    }
    // A candidate read from the page at `offset`: its last LSN of a record
    // that ends on the page; none when there is none or it is 0.
    std::optional<Candidate> Read_Candidate(std::uint64_t offset, Sequences sequences);

    // The buffer pages of a 2.0 log in `first`..`last` (scanned pages among
    // the first `below`, other pages when they hold an LSN of the sequences).
    void Collect_Buffer_Area(std::uint64_t first, std::uint64_t last, std::size_t below, Sequences sequences);
    // Carved_Page_Array split into older and newer pages around the runs.
    void Place_Buffer_Pages(const Run_Bounds& bounds);

    Global_Parsing_Context& context_;
    const Carved_Log& log_;
    std::uint64_t file_size_;
    const Page_Reader& read_page_;
    // The log's own pages of the scan, in file order.
    std::span<const _page_info> scanned_;
    unsigned shift_;
    std::uint32_t bits_;
    std::array<std::uint8_t, LogFile_Page_Size> page_{};
};

unsigned Carved_List_Builder::Build() {
    if (scanned_.empty()) return shift_;
    switch (Choose_Carving_Path(log_)) {
        case Carving_Path::V11_Two_Restart_Pages: Build_V11(0); break;
        case Carving_Path::V11_One_Restart_Page: Build_V11_One_Restart_Page(); break;
        case Carving_Path::V20_Two_Restart_Pages: Build_V20(0); break;
        case Carving_Path::V20_One_Restart_Page: Build_V20_One_Restart_Page(); break;
        case Carving_Path::Without_Restart_Page: Build_Without_Restart_Page(); break;
    }
    return shift_;
}

std::span<std::uint8_t> Carved_List_Builder::Read(std::uint64_t offset) {
    if (!In_Log(offset) || !read_page_(offset, page_)) std::fill(page_.begin(), page_.end(), 0);
    return page_;
}

std::optional<std::uint64_t> Carved_List_Builder::Last_Lsn_At(std::uint64_t offset, Sequences sequences,
                                                              bool bounded) {
    if (!In_Log(offset)) return std::nullopt;
    const std::span<std::uint8_t> page = Read(offset);
    std::uint64_t lsn = 0;
    const int found = bounded ? Find_Last_LSN_In_Page_Bounded(page, sequences.a, sequences.b, shift_, &lsn)
                              : Find_Last_LSN_In_Page(page, sequences.a, sequences.b, shift_, &lsn);
    if (found == 0) return std::nullopt;
    return lsn;
}

const _page_info* Carved_List_Builder::Scanned_At(std::uint64_t offset, std::size_t below) const {
    // The scan lists pages in file order.
    const auto end = below < scanned_.size() ? scanned_.begin() + static_cast<std::ptrdiff_t>(below) : scanned_.end();
    const auto it = std::lower_bound(scanned_.begin(), end, offset,
                                     [](const _page_info& page, std::uint64_t at) { return page.FileOffset < at; });
    return it != end && it->FileOffset == offset ? &*it : nullptr;
}

std::size_t Carved_List_Builder::First_Scanned_From(std::uint64_t offset) const {
    const auto it = std::lower_bound(scanned_.begin(), scanned_.end(), offset,
                                     [](const _page_info& page, std::uint64_t at) { return page.FileOffset < at; });
    return it == scanned_.end() ? 0 : static_cast<std::size_t>(it - scanned_.begin());
}

Sequences Carved_List_Builder::Sequences_From(std::size_t s) const {
    Sequences sequences;
    for (std::size_t i = s; i < scanned_.size(); ++i) {
        const std::uint64_t sequence = (scanned_[i].LastLSN >> shift_) & Sequence_Mask;
        if (sequences.a == No_Sequence) {
            sequences.a = sequence;
        } else if (sequence != sequences.a) {
            sequences.b = sequence;
            break;
        }
    }
    return sequences;
}

Run_Bounds Carved_List_Builder::Rebuild_Normal_Area(std::uint64_t first, std::uint64_t end_margin, std::size_t s,
                                                    Sequences sequences) {
    std::vector<_page_info>& records = context_.Record_Page_Array;
    records.clear();
    // A damaged restart area may claim any log size: the area ends at the
    // end of the file, or where the next log begins, at the latest.
    const std::uint64_t log_end = Saturating_Add(log_.Base, log_.Restart->Log_File_Size);
    if (log_end >= end_margin) {
        const std::uint64_t last = log_end - end_margin;
        std::size_t j = s;
        bool carried = false;
        std::uint64_t carried_lsn = 0;
        for (std::uint64_t q = first; q <= last && In_Log(q); q += Page) {
            while (j < scanned_.size() && scanned_[j].FileOffset < q) ++j;
            if (j < scanned_.size() && scanned_[j].FileOffset == q) {
                records.push_back(scanned_[j]);
                carried = true;
                carried_lsn = scanned_[j].LastLSN;
                continue;
            }
            if (const auto lsn = Last_Lsn_At(q, sequences, false)) {
                records.push_back(Carved_Entry(q, *lsn));
            } else if (!Unwritten(page_)) {
                // A page that lost its header may still hold the rest of a
                // record; it keeps its place in the run it lies in.
                records.push_back(Carved_Entry(q, carried ? carried_lsn : scanned_.back().LastLSN));
            } else if (!records.empty() && records.back().FileOffset + Page == q) {
                // A never-written page gets no entry, so the walk goes on
                // past it; a record that would run on into it is lost there.
                records.back().Followed_By_Unwritten_Page = true;
            }
        }
    }
    return Group_Pages_Into_Runs(records, context_.Page_Group_Array);
}

void Carved_List_Builder::Fill_Gap(const _page_info& previous, const _page_info& next, std::vector<_page_info>& out) {
    const Sequences sequences{previous.LastLSN >> shift_, next.LastLSN >> shift_};
    // Scanned pages lie at any multiple of 512: a gap position counts only
    // when its whole page ends before the next scanned page begins.
    for (std::uint64_t q = previous.FileOffset + Page; q + Page <= next.FileOffset; q += Page)
        if (const auto lsn = Last_Lsn_At(q, sequences, false)) out.push_back(Carved_Entry(q, *lsn));
}

Run_Bounds Carved_List_Builder::Build_From_Run_Start(std::size_t k) {
    std::vector<_page_info>& records = context_.Record_Page_Array;
    records.clear();
    records.push_back(scanned_[k]);
    for (std::size_t i = k + 1; i < scanned_.size(); ++i) {
        Fill_Gap(scanned_[i - 1], scanned_[i], records);
        records.push_back(scanned_[i]);
    }
    return Group_Pages_Into_Runs(records, context_.Page_Group_Array);
}

std::optional<Candidate> Carved_List_Builder::Read_Candidate(std::uint64_t offset, Sequences sequences) {
    const auto lsn = Last_Lsn_At(offset, sequences, true);
    if (!lsn || *lsn == 0) return std::nullopt;
    return Candidate{Carved_Entry(offset, 0, *lsn), *lsn, false};
}

void Carved_List_Builder::Append_Chosen(const std::vector<Candidate>& candidates, std::uint64_t largest) {
    std::vector<_page_info>& replay = context_.Replay_Page_Array;
    if (candidates.size() == 2) {
        const int chosen = Choose_Buffer_Page(candidates[0].value, candidates[1].value, largest);
        if (chosen >= 0) replay.push_back(candidates[static_cast<std::size_t>(chosen)].page);
    } else if (candidates.size() == 1) {
        // A page the scan listed must end at least as late as the normal
        // area; one found only by reading is taken as it is.
        if (!candidates[0].scanned || candidates[0].value >= largest) replay.push_back(candidates[0].page);
    }
}

void Carved_List_Builder::Append_V11_Buffer_Page(std::size_t s, std::uint64_t largest, std::uint64_t lower,
                                                 Sequences sequences) {
    const std::uint64_t buffer_0 = log_.Base + V11_Buffer_Page_0 - lower;
    const std::uint64_t buffer_1 = log_.Base + V11_Buffer_Page_1 - lower;
    std::vector<Candidate> candidates;
    if (s >= 2) {
        candidates = {Scanned_Candidate(0), Scanned_Candidate(1)};
    } else if (s == 1) {
        // The buffer page the scan did not list is the other one.
        const std::uint64_t other = scanned_[0].FileOffset == buffer_0 ? buffer_1 : buffer_0;
        if (auto read = Read_Candidate(other, sequences)) candidates.push_back(*read);
        candidates.push_back(Scanned_Candidate(0));
    } else {
        for (const std::uint64_t at : {buffer_0, buffer_1})
            if (auto read = Read_Candidate(at, sequences)) candidates.push_back(*read);
    }
    Append_Chosen(candidates, largest);
}

void Carved_List_Builder::Build_V11(std::uint64_t lower) {
    const std::uint64_t first = log_.Base + V11_Normal_Start - lower;
    const std::size_t s = First_Scanned_From(first);
    const Sequences sequences = Sequences_From(s);
    const Run_Bounds bounds = Rebuild_Normal_Area(first, Page + lower, s, sequences);
    Append_Runs_In_Replay_Order(context_.Page_Group_Array, context_.Replay_Page_Array);
    Append_V11_Buffer_Page(s, bounds.Largest_LSN, lower, sequences);
}

void Carved_List_Builder::Build_V11_One_Restart_Page() {
    // The restart page found may be the log's first or its second: the
    // sequences of the pages at base + 3 and base + 4 pages tell.
    const _page_info* p3 = Scanned_At(log_.Base + V11_Buffer_Page_1);
    const _page_info* p4 = Scanned_At(log_.Base + V11_Normal_Start);
    enum class Form { First, Second, Fallback } form = Form::Fallback;
    if (p3 != nullptr && p4 != nullptr) {
        const std::uint64_t s3 = p3->LastLSN >> shift_;
        const std::uint64_t s4 = p4->LastLSN >> shift_;
        if (s3 < s4)
            form = Form::First;
        else if (s3 == s4 || s3 - s4 == 1)
            form = Form::Second;
    } else if (scanned_[0].FileOffset == log_.Base + Page) {
        form = Form::Second;
    }
    if (form == Form::First)
        Build_V11(0);
    else if (form == Form::Second)
        Build_V11(Page);
    else
        Build_V11_Fallback();
}

void Carved_List_Builder::Build_V11_Fallback() {
    const std::size_t k = Find_Ascending_Run_Start(scanned_, V11_Run_Length, bits_);
    const Sequences sequences = Sequences_From(k);
    const Run_Bounds bounds = Build_From_Run_Start(k);
    Append_Runs_In_Replay_Order(context_.Page_Group_Array, context_.Replay_Page_Array);
    if (k >= 2) {
        Append_Chosen({Scanned_Candidate(0), Scanned_Candidate(1)}, bounds.Largest_LSN);
        return;
    }
    std::array<std::uint64_t, 3> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = Last_Lsn_At(log_.Base + (i + 1) * Page, sequences, true).value_or(0);
    if (values[1] == 0 || values[2] == 0) return;
    const std::size_t first = values[0] != 0 ? 0 : 1;
    Append_Chosen({Candidate{Carved_Entry(log_.Base + (first + 1) * Page, 0, values[first]), values[first], false},
                   Candidate{Carved_Entry(log_.Base + (first + 2) * Page, 0, values[first + 1]), values[first + 1],
                             false}},
                  bounds.Largest_LSN);
}

void Carved_List_Builder::Collect_Buffer_Area(std::uint64_t first, std::uint64_t last, std::size_t below,
                                              Sequences sequences) {
    for (std::uint64_t q = first; q <= last && In_Log(q); q += Page) {
        if (const _page_info* page = Scanned_At(q, below))
            context_.Carved_Page_Array.push_back(*page);
        else if (const auto lsn = Last_Lsn_At(q, sequences, false))
            context_.Carved_Page_Array.push_back(Carved_Entry(q, *lsn));
    }
}

void Carved_List_Builder::Place_Buffer_Pages(const Run_Bounds& bounds) {
    Append_V20_Replay_Order(context_, context_.Carved_Page_Array, bounds);
}

void Carved_List_Builder::Build_V20(std::uint64_t lower) {
    const std::uint64_t first = log_.Base + V20_Normal_Start - lower;
    const std::size_t s = First_Scanned_From(first);
    const Sequences sequences = Sequences_From(s);
    const Run_Bounds bounds = Rebuild_Normal_Area(first, Page + lower, s, sequences);
    Collect_Buffer_Area(log_.Base + V20_Buffer_First - lower, log_.Base + V20_Buffer_Last - lower, No_Index,
                        sequences);
    Place_Buffer_Pages(bounds);
}

void Carved_List_Builder::Build_V20_One_Restart_Page() {
    // The last end LSN of the page before the normal area points into the
    // first normal page: at base + 34 pages when the restart page found is
    // the log's first, at base + 33 pages when it is its second.
    const _page_info* last_buffer = Scanned_At(log_.Base + V20_Buffer_Last);
    if (last_buffer != nullptr && last_buffer->LastEndLSN != 0) {
        const std::uint64_t points_to = Offset_Part(last_buffer->LastEndLSN, bits_) * 8;
        Build_V20(points_to >= V20_Second_Form_Low && points_to <= V20_Second_Form_High ? Page : 0);
    } else if (scanned_[0].FileOffset == log_.Base + Page) {
        Build_V20(Page);
    } else {
        Build_V20_Fallback();
    }
}

void Carved_List_Builder::Build_V20_Fallback() {
    const std::size_t k = Find_Ascending_Run_Start(scanned_, V20_Run_Length, bits_);
    const Sequences sequences = Sequences_From(k);
    const Run_Bounds bounds = Build_From_Run_Start(k);
    std::array<bool, 3> found{};
    for (std::size_t i = 0; i < found.size(); ++i)
        found[i] = Last_Lsn_At(log_.Base + (i + 1) * Page, sequences, false).value_or(0) != 0;
    if (found[1] && found[2] && !found[0]) {
        Collect_Buffer_Area(log_.Base + V20_Buffer_First, log_.Base + V20_Buffer_Last, k, sequences);
    } else if (found[0] && found[1] && found[2]) {
        Collect_Buffer_Area(log_.Base + V20_Buffer_First - Page, log_.Base + V20_Buffer_Last - Page, k, sequences);
    } else if (scanned_[k].FileOffset > log_.Base + Page) {
        // Up to the last page that ends at or before scanned page k.
        Collect_Buffer_Area(log_.Base + Page, scanned_[k].FileOffset - Page, k, sequences);
    }
    Place_Buffer_Pages(bounds);
}

void Carved_List_Builder::Build_Without_Restart_Page() {
    if (scanned_.size() < 2) return;
    // Two pages in a row that begin with the same records are the two buffer
    // copies of a 1.1 log; its normal area follows them.
    std::size_t k = 0;
    std::array<std::uint8_t, Copy_Compare_Size> copy_0{};
    std::memcpy(copy_0.data(), Read(scanned_[0].FileOffset).data() + Copy_Compare_Offset, Copy_Compare_Size);
    const bool copies = scanned_[1].FileOffset == scanned_[0].FileOffset + Page &&
                        std::memcmp(copy_0.data(), Read(scanned_[1].FileOffset).data() + Copy_Compare_Offset,
                                    Copy_Compare_Size) == 0;
    if (copies) {
        k = 2;
        if (scanned_.size() < 3) return;
    } else {
        k = Find_Ascending_Run_Start(scanned_, V20_Run_Length, bits_);
    }
    shift_ = Infer_Lsn_Shift(scanned_, k);
    const Run_Bounds bounds = Build_From_Run_Start(k);
    if (k >= 3) {
        // The pages before the run are the buffer pages of a 2.0 log.
        context_.Carved_Page_Array.push_back(scanned_[0]);
        for (std::size_t i = 1; i < k; ++i) {
            Fill_Gap(scanned_[i - 1], scanned_[i], context_.Carved_Page_Array);
            context_.Carved_Page_Array.push_back(scanned_[i]);
        }
        Place_Buffer_Pages(bounds);
        return;
    }
    Append_Runs_In_Replay_Order(context_.Page_Group_Array, context_.Replay_Page_Array);
    if (k == 2)
        Append_Chosen({Scanned_Candidate(0), Scanned_Candidate(1)}, bounds.Largest_LSN);
    else if (k == 1)
        Append_Chosen({Scanned_Candidate(0)}, bounds.Largest_LSN);
}

}  // namespace

Carving_Path Choose_Carving_Path(const Carved_Log& log) {
    if (!log.Restart) return Carving_Path::Without_Restart_Page;
    const bool two = log.Restart_Page_Count >= 2;
    if (log.Restart->Major_Version == 1 && log.Restart->Minor_Version == 1)
        return two ? Carving_Path::V11_Two_Restart_Pages : Carving_Path::V11_One_Restart_Page;
    if (log.Restart->Major_Version == 2 && log.Restart->Minor_Version == 0)
        return two ? Carving_Path::V20_Two_Restart_Pages : Carving_Path::V20_One_Restart_Page;
    return Carving_Path::Without_Restart_Page;
}

unsigned Build_Carved_Page_List(Global_Parsing_Context& context, const Carving_Scan& scan, const Carved_Log& log,
                                const Page_Reader& read_page) {
    return Carved_List_Builder(context, scan, log, read_page).Build();
}

std::size_t Find_Ascending_Run_Start(std::span<const _page_info> scanned, std::size_t run_length,
                                     std::uint32_t sequence_bits) {
    if (run_length == 0) return 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < scanned.size(); ++i) {
        if (i > 0 &&
            Offset_Part(scanned[i].LastLSN, sequence_bits) < Offset_Part(scanned[i - 1].LastLSN, sequence_bits))
            start = i;
        if (i - start + 1 >= run_length) return start;
    }
    return 0;
}

unsigned Infer_Lsn_Shift(std::span<const _page_info> scanned, std::size_t k) {
    bool dropped = false;
    std::uint64_t high = 0, low = 0;
    for (std::size_t i = k + 1; i < scanned.size(); ++i) {
        if (scanned[i].LastLSN < scanned[i - 1].LastLSN) {
            dropped = true;
            high = scanned[i - 1].LastLSN;
            low = scanned[i].LastLSN;
        }
    }
    if (dropped && low != 0) {
        for (unsigned s = 1; s <= 63; ++s)
            if ((high >> s) - (low >> s) == 1) return s;
        return Default_Shift;
    }
    if (scanned.empty()) return Default_Shift;
    const std::uint64_t span = scanned.back().FileOffset - scanned.front().FileOffset + 3 * Page;
    return static_cast<unsigned>(std::bit_width(span >> 3));
}
