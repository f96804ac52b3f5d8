#include "records/Compact_Rows.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

namespace {

// Texts live in chunks of this many units; a text never starts near a chunk
// boundary it cannot fit in, so a text is always contiguous.
constexpr std::uint64_t Chunk_Units = std::uint64_t{1} << 20;
// Region starts are aligned to 4 units, so a 32-bit handle addresses 32 GiB.
constexpr std::uint64_t Alignment = 4;
// A table of at most this many slots stays in the caches.
constexpr std::size_t Cached_Slots = std::size_t{1} << 14;

// A text is stored as its length (one unit below 0x8000, else two) and its
// units; this mark in place of a length stands for "the tail of the source".
constexpr char16_t Tail_Mark = 0xFFFF;
constexpr std::size_t Max_Text_Units = 0x7FFE0000;

std::size_t Header_Units(std::size_t length) { return length < 0x8000 ? 1 : 2; }

char16_t* Write_Text(char16_t* at, std::u16string_view text) {
    const std::size_t n = text.size();
    if (n < 0x8000) {
        *at++ = static_cast<char16_t>(n);
    } else {
        *at++ = static_cast<char16_t>(0x8000 | (n >> 16));
        *at++ = static_cast<char16_t>(n & 0xFFFF);
    }
    return std::copy(text.begin(), text.end(), at);
}

std::u16string_view Read_Text(const char16_t* at) {
    if (*at & 0x8000) {
        const std::size_t n = (static_cast<std::size_t>(*at & 0x7FFF) << 16) | at[1];
        return {at + 2, n};
    }
    return {at + 1, *at};
}

const char16_t* Skip_Text(const char16_t* at) {
    if (*at == Tail_Mark) return at + 1;
    const std::u16string_view text = Read_Text(at);
    return text.data() + text.size();
}

bool Is_Tail_Of(std::u16string_view name, std::u16string_view path) {
    return !name.empty() && name.find(u'\\') == std::u16string_view::npos && path.size() > name.size() &&
           path[path.size() - name.size() - 1] == u'\\' && path.substr(path.size() - name.size()) == name;
}

}  // namespace

struct Compact_Row_Store::Arena {
    // Handle 0 is never given out, so it can mark an empty slot.
    Arena() { Allocate(Alignment); }

    std::vector<char16_t*> chunk_base;
    std::vector<platform::Large_Array<char16_t>> blocks;
    std::uint64_t position = Chunk_Units;  // inside the last chunk; full at the start
    std::size_t bytes = 0;

    // Room for `units` contiguous units; returns the handle of its start.
    std::uint32_t Allocate(std::size_t units) {
        const std::uint64_t size = (units + Alignment - 1) / Alignment * Alignment;
        if (chunk_base.empty() || position + size > Chunk_Units) {
            const std::uint64_t chunks = std::max<std::uint64_t>(1, (size + Chunk_Units - 1) / Chunk_Units);
            if ((chunk_base.size() + chunks) * Chunk_Units / Alignment > UINT32_MAX)
                throw std::length_error("event rows exceed the compact store");
            blocks.emplace_back(chunks * Chunk_Units);
            bytes += chunks * Chunk_Units * sizeof(char16_t);
            for (std::uint64_t k = 0; k < chunks; ++k) chunk_base.push_back(blocks.back().data() + k * Chunk_Units);
            const std::uint64_t start = (chunk_base.size() - chunks) * Chunk_Units;
            position = size - (chunks - 1) * Chunk_Units;
            return static_cast<std::uint32_t>(start / Alignment);
        }
        const std::uint64_t start = (chunk_base.size() - 1) * Chunk_Units + position;
        position += size;
        return static_cast<std::uint32_t>(start / Alignment);
    }

    char16_t* At(std::uint32_t handle) const {
        const std::uint64_t unit = std::uint64_t{handle} * Alignment;
        return chunk_base[unit / Chunk_Units] + unit % Chunk_Units;
    }
};

// The shared tuples of one group: each distinct tuple once, found by hash,
// and numbered in the order first met. Rows hold the tuple's number; the
// number's handle in the arena is one array look-up away.
struct Compact_Row_Store::Tuple_Table {
    static constexpr std::size_t Ids_Per_Chunk = std::size_t{1} << 16;

    // Open addressing: hash << 32 | (number + 1); 0 when empty. The hash
    // beside the number spares a visit to the texts of every other tuple.
    // At most 7 slots in 10 are taken: a table of millions of tuples is a
    // large part of the memory that appending needs.
    platform::Large_Array<std::uint64_t> slots;
    // The handle of each tuple by its number, in chunks (no copy on growth).
    std::vector<std::unique_ptr<std::uint32_t[]>> handle_chunks;
    std::size_t count = 0;
    // Neighbouring rows often share a tuple (the same second, the same file).
    std::uint64_t last = 0;
    std::uint32_t last_handle = 0;

    static std::uint32_t Hash(const std::u16string_view* fields, int n) {
        std::uint64_t h = 0x9E3779B97F4A7C15ull;
        for (int i = 0; i < n; ++i) {
            h ^= std::hash<std::u16string_view>{}(fields[i]) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
        }
        return static_cast<std::uint32_t>(h ^ (h >> 32));
    }

    static bool Equal(const Arena& arena, std::uint32_t handle, const std::u16string_view* fields, int n) {
        const char16_t* at = arena.At(handle);
        for (int i = 0; i < n; ++i) {
            const std::u16string_view stored = Read_Text(at);
            if (stored != fields[i]) return false;
            at = stored.data() + stored.size();
        }
        return true;
    }

    static std::uint32_t Id_Of(std::uint64_t slot) { return static_cast<std::uint32_t>(slot) - 1; }
    std::uint32_t Handle_Of(std::uint32_t id) const { return handle_chunks[id / Ids_Per_Chunk][id % Ids_Per_Chunk]; }
    const std::uint32_t* Handle_Address(std::uint32_t id) const {
        return &handle_chunks[id / Ids_Per_Chunk][id % Ids_Per_Chunk];
    }

    const std::uint64_t* Slot_For(std::uint32_t h) const {
        return slots.empty() ? nullptr : &slots[h & (slots.size() - 1)];
    }

    void Insert(std::uint64_t entry) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = (entry >> 32) & mask;
        while (slots[i] != 0) i = (i + 1) & mask;
        slots[i] = entry;
    }

    static bool Too_Full(std::size_t count, std::size_t size) { return count * 10 > size * 7; }

    void Resize(std::size_t size) {
        const platform::Large_Array<std::uint64_t> old = std::exchange(slots, platform::Large_Array<std::uint64_t>(size));
        for (const std::uint64_t entry : old)
            if (entry != 0) Insert(entry);
    }

    std::uint32_t Find_Or_Add(Arena& arena, const std::u16string_view* fields, int n, std::uint32_t h) {
        if (last != 0 && last >> 32 == h && Equal(arena, last_handle, fields, n)) return Id_Of(last);
        if (slots.empty() || Too_Full(count + 1, slots.size())) Resize(slots.empty() ? 1024 : slots.size() * 2);
        const std::size_t mask = slots.size() - 1;
        std::size_t i = h & mask;
        while (slots[i] != 0) {
            if (slots[i] >> 32 == h) {
                const std::uint32_t handle = Handle_Of(Id_Of(slots[i]));
                if (Equal(arena, handle, fields, n)) {
                    last = slots[i];
                    last_handle = handle;
                    return Id_Of(last);
                }
            }
            i = (i + 1) & mask;
        }
        if (count >= UINT32_MAX - 1) throw std::length_error("event rows exceed the compact store");
        std::size_t units = 0;
        for (int k = 0; k < n; ++k) units += Header_Units(fields[k].size()) + fields[k].size();
        const std::uint32_t where = arena.Allocate(units);
        char16_t* at = arena.At(where);
        for (int k = 0; k < n; ++k) at = Write_Text(at, fields[k]);
        const std::uint32_t id = static_cast<std::uint32_t>(count);
        if (count % Ids_Per_Chunk == 0) handle_chunks.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(Ids_Per_Chunk));
        handle_chunks.back()[count % Ids_Per_Chunk] = where;
        slots[i] = last = (std::uint64_t{h} << 32) | (std::uint64_t{id} + 1);
        last_handle = where;
        ++count;
        return id;
    }

    void Release() {
        slots = {};
        last = 0;
    }

    std::size_t Bytes() const {
        return slots.size() * sizeof(std::uint64_t) + handle_chunks.size() * Ids_Per_Chunk * sizeof(std::uint32_t);
    }
};

Compact_Row_Store::Compact_Row_Store(Layout layout) : layout_(std::move(layout)), arena_(std::make_unique<Arena>()) {
    for (int g : layout_.Group_Of) groups_ = std::max(groups_, g + 1);
    group_size_.assign(groups_, 0);
    for (int g : layout_.Group_Of) position_.push_back(group_size_[g]++);
    if (groups_ > Max_Groups) throw std::logic_error("too many groups of shared fields");
    for (int g = 0; g < groups_; ++g)
        if (group_size_[g] == 0) throw std::logic_error("a group of the layout holds no field");
    for (int g = 0, start = 0; g < groups_; start += group_size_[g++]) group_start_.push_back(start);
    gathered_.resize(layout_.Group_Of.size());
    tuples_ = std::make_unique<Tuple_Table[]>(static_cast<std::size_t>(groups_));
    if (layout_.Tail_Field >= 0 &&
        (layout_.Group_Of[layout_.Tail_Field] != 0 || layout_.Group_Of[layout_.Tail_Source] != 0 ||
         layout_.Tail_Field == layout_.Tail_Source))
        throw std::logic_error("a tail field and its source must both be stored with the row");
}

Compact_Row_Store::Compact_Row_Store(Compact_Row_Store&&) noexcept = default;
Compact_Row_Store& Compact_Row_Store::operator=(Compact_Row_Store&&) noexcept = default;
Compact_Row_Store::~Compact_Row_Store() = default;

const std::u16string_view* Compact_Row_Store::Gather(const std::u16string_view* fields, int group) const {
    std::u16string_view* out = &gathered_[group_start_[group]];
    for (int f = 0; f < Field_Count(); ++f)
        if (layout_.Group_Of[f] == group) out[position_[f]] = fields[f];
    return out;
}

Compact_Row_Store::Row_Hashes Compact_Row_Store::Hash_Row(const std::u16string_view* fields) const {
    Row_Hashes hashes;
    for (int g = 1; g < groups_; ++g) {
        hashes.Of[g] = Tuple_Table::Hash(Gather(fields, g), group_size_[g]);
        if (hashes.Of[g] == last_hashed_.Of[g] || tuples_[g].slots.size() <= Cached_Slots)
            hashes.No_Prefetch |= 1u << g;
    }
    last_hashed_ = hashes;
    return hashes;
}

void Compact_Row_Store::Prefetch_Slots(const Row_Hashes& hashes) const {
    for (int g = 1; g < groups_; ++g) {
        if ((hashes.No_Prefetch >> g & 1) != 0) continue;
        if (const std::uint64_t* slot = tuples_[g].Slot_For(hashes.Of[g])) __builtin_prefetch(slot);
    }
}

void Compact_Row_Store::Prefetch_Handles(const Row_Hashes& hashes) const {
    for (int g = 1; g < groups_; ++g) {
        if ((hashes.No_Prefetch >> g & 1) != 0) continue;
        const std::uint64_t* slot = tuples_[g].Slot_For(hashes.Of[g]);
        if (slot != nullptr && *slot >> 32 == hashes.Of[g])
            __builtin_prefetch(tuples_[g].Handle_Address(Tuple_Table::Id_Of(*slot)));
    }
}

void Compact_Row_Store::Prefetch_Texts(const Row_Hashes& hashes) const {
    for (int g = 1; g < groups_; ++g) {
        if ((hashes.No_Prefetch >> g & 1) != 0) continue;
        const std::uint64_t* slot = tuples_[g].Slot_For(hashes.Of[g]);
        if (slot != nullptr && *slot >> 32 == hashes.Of[g])
            __builtin_prefetch(arena_->At(tuples_[g].Handle_Of(Tuple_Table::Id_Of(*slot))));
    }
}

void Compact_Row_Store::Append(const std::u16string_view* fields) { Append(fields, Hash_Row(fields)); }

void Compact_Row_Store::Append(const std::u16string_view* fields, const Row_Hashes& hashes) {
    if (lookups_released_) Make_Lookups();
    const int count = Field_Count();
    for (int f = 0; f < count; ++f)
        if (fields[f].size() > Max_Text_Units) throw std::length_error("event text too long for the compact store");
    if (rows_ / Rows_Per_Chunk >= row_chunks_.size())
        row_chunks_.emplace_back(Rows_Per_Chunk * static_cast<std::size_t>(groups_));
    std::uint32_t* slots = Row_Slots(rows_);

    const bool tail = layout_.Tail_Field >= 0 && Is_Tail_Of(fields[layout_.Tail_Field], fields[layout_.Tail_Source]);
    std::size_t units = 0;
    for (int f = 0; f < count; ++f) {
        if (layout_.Group_Of[f] != 0) continue;
        units += tail && f == layout_.Tail_Field ? 1 : Header_Units(fields[f].size()) + fields[f].size();
    }
    // Fields are written in field order, which is their order inside the group.
    slots[0] = arena_->Allocate(units);
    char16_t* at = arena_->At(slots[0]);
    for (int f = 0; f < count; ++f) {
        if (layout_.Group_Of[f] != 0) continue;
        if (tail && f == layout_.Tail_Field) *at++ = Tail_Mark;
        else at = Write_Text(at, fields[f]);
    }

    // The tuples' hashes first, so the look-ups of all groups overlap their
    // memory reads.
    for (int g = 1; g < groups_; ++g)
        slots[g] = tuples_[g].Find_Or_Add(*arena_, Gather(fields, g), group_size_[g], hashes.Of[g]);
    ++rows_;
}

std::u16string_view Compact_Row_Store::Field(std::size_t row, int field) const {
    const int g = layout_.Group_Of[field];
    const std::uint32_t slot = Row_Slots(row)[g];
    if (g != 0) return Tuple_Field(slot, field);
    const char16_t* at = arena_->At(slot);
    for (int k = 0; k < position_[field]; ++k) at = Skip_Text(at);
    if (*at == Tail_Mark) {
        const std::u16string_view source = Field(row, layout_.Tail_Source);
        return source.substr(source.rfind(u'\\') + 1);
    }
    return Read_Text(at);
}

const char16_t* Compact_Row_Store::Tuple_Texts(int group, std::uint32_t id) const {
    return arena_->At(tuples_[group].Handle_Of(id));
}

std::size_t Compact_Row_Store::Tuple_Count(int field) const { return tuples_[layout_.Group_Of[field]].count; }

std::u16string_view Compact_Row_Store::Tuple_Field(std::uint32_t id, int field) const {
    const char16_t* at = Tuple_Texts(layout_.Group_Of[field], id);
    for (int k = 0; k < position_[field]; ++k) at = Skip_Text(at);
    return Read_Text(at);
}

void Compact_Row_Store::Release_Lookups() {
    for (int g = 1; g < groups_; ++g) tuples_[g].Release();
    lookups_released_ = true;
}

// Each tuple's texts are read back from the arena and hashed again.
void Compact_Row_Store::Make_Lookups() {
    std::vector<std::u16string_view> fields;
    for (int g = 1; g < groups_; ++g) {
        Tuple_Table& table = tuples_[g];
        std::size_t size = 1024;
        while (Tuple_Table::Too_Full(table.count + 1, size)) size *= 2;
        table.slots = platform::Large_Array<std::uint64_t>(size);
        fields.resize(static_cast<std::size_t>(group_size_[g]));
        for (std::uint32_t id = 0; id < table.count; ++id) {
            const char16_t* at = arena_->At(table.Handle_Of(id));
            for (std::u16string_view& f : fields) {
                f = Read_Text(at);
                at = f.data() + f.size();
            }
            table.Insert((std::uint64_t{Tuple_Table::Hash(fields.data(), group_size_[g])} << 32) | (std::uint64_t{id} + 1));
        }
    }
    lookups_released_ = false;
}

void Compact_Row_Store::Truncate(std::size_t rows) {
    if (rows >= rows_) return;
    rows_ = rows;
    row_chunks_.resize((rows_ + Rows_Per_Chunk - 1) / Rows_Per_Chunk);
}

void Compact_Row_Store::Clear() {
    Compact_Row_Store empty(layout_);
    *this = std::move(empty);
}

std::size_t Compact_Row_Store::Memory_Bytes() const {
    std::size_t bytes = arena_->bytes + row_chunks_.size() * Rows_Per_Chunk * groups_ * sizeof(std::uint32_t);
    for (int g = 0; g < groups_; ++g) bytes += tuples_[g].Bytes();
    return bytes;
}

// ------------------------------------------------------------------ tables

// A journal's USN differs in every row and its full path nearly so; its file
// name is the tail of the path. Times, references and the event words repeat.
Compact_Row_Store::Layout UsnJrnl_Row_Traits::Layout() {
    Compact_Row_Store::Layout layout;
    layout.Group_Of.resize(static_cast<int>(Usn_Field::Count));
    const auto put = [&](Usn_Field f, int group) { layout.Group_Of[static_cast<int>(f)] = group; };
    put(Usn_Field::USN, 0);
    put(Usn_Field::FileName, 0);
    put(Usn_Field::FullPath, 0);
    put(Usn_Field::TimeStamp, 1);
    put(Usn_Field::Event, 2);
    put(Usn_Field::SourceInfo, 2);
    put(Usn_Field::FileAttr, 2);
    put(Usn_Field::CarvingFlag, 2);
    put(Usn_Field::FileReferenceNumber, 3);
    put(Usn_Field::ParentFileReferenceNumber, 4);
    layout.Tail_Field = static_cast<int>(Usn_Field::FileName);
    layout.Tail_Source = static_cast<int>(Usn_Field::FullPath);
    return layout;
}

// A log names the same few files in many events; only the LSN is unique.
Compact_Row_Store::Layout Log_Info_Row_Traits::Layout() {
    Compact_Row_Store::Layout layout;
    layout.Group_Of.resize(static_cast<int>(Log_Field::Count));
    const auto put = [&](Log_Field f, int group) { layout.Group_Of[static_cast<int>(f)] = group; };
    put(Log_Field::LSN, 0);
    put(Log_Field::EventTime, 1);
    put(Log_Field::Event, 2);
    put(Log_Field::Detail, 2);
    put(Log_Field::RedoInfo, 2);
    put(Log_Field::FileName, 3);
    put(Log_Field::FullPath, 3);
    put(Log_Field::CreateTime, 4);
    put(Log_Field::ModifiedTime, 5);
    put(Log_Field::MFT_ModifiedTime, 6);
    put(Log_Field::AccessTime, 7);
    put(Log_Field::TargetVCN, 8);
    put(Log_Field::ClusterIndex, 8);
    return layout;
}
