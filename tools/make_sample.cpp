// Writes a small sample of extracted NTFS metadata for a first run:
//   make_sample <folder>
// gives <folder>/MFT, <folder>/LogFile, <folder>/UsnJrnl_J, <folder>/source/volume_piece.bin
// (the journal's bytes inside other data, for -n) and
// <folder>/source/log_piece.bin (a small $LogFile inside other data, for -g).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/Carving_Image_Builder.h"
#include "support/Mft_Record_Builder.h"
#include "support/Usn_Record_Builder.h"

using namespace test_support;

namespace {

// 2026-03-01 20:15:00 UTC and one second, as FILETIME ticks.
constexpr std::uint64_t Sample_Time = 134168697000000000ull;
constexpr std::uint64_t Second = 10000000ull;

// The sample's three entries; each FILE record carries the LSN of the log
// record that last changed it (`lsns`, by entry 64, 65, 66).
std::vector<Mft_Record_Builder> Entries(const std::vector<std::uint64_t>& lsns) {
    return {Mft_Record_Builder()
                .Flags(Record_Flags::Directory)
                .Sequence(1)
                .Lsn(lsns.at(0))
                .Standard_Information(Sample_Time, Sample_Time, Sample_Time, Sample_Time)
                .File_Name(Mft_Reference(5, 5), u"Documents"),
            Mft_Record_Builder()
                .Flags(Record_Flags::File)
                .Sequence(1)
                .Lsn(lsns.at(1))
                .Standard_Information(Sample_Time + Second, Sample_Time + 2 * Second)
                .File_Name(Mft_Reference(64, 1), u"notes.txt")
                .Data(120),
            Mft_Record_Builder()
                .Flags(Record_Flags::Deleted_File)
                .Sequence(2)
                .Lsn(lsns.at(2))
                .Standard_Information(Sample_Time + 3 * Second)
                .File_Name(Mft_Reference(64, 1), u"report.docx")
                .Data(20000, false)};
}

void Write_Mft(const std::string& path, const std::vector<std::uint64_t>& lsns) {
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image, 1024, Sample_Time);
    const auto entries = Entries(lsns);
    for (std::size_t i = 0; i < entries.size(); ++i) image.Put(64 + i, entries[i]);
    image.Write_File(path, 80);
}

// A small version 1.1 $LogFile of 16 pages: the FILE records of the three
// entries made (Initialize File Record Segment), report.docx's freed
// (Deallocate File Record Segment), each transaction committed, laid over
// the normal pages from page 4; the page being written is copied into buffer
// page 2. Returns the log and, in `lsns`, the LSN of the last record of each
// entry.
std::vector<std::uint8_t> Log_File(std::vector<std::uint64_t>& lsns) {
    using carving_test::Bytes;
    using carving_test::Log_Record;
    const auto on_entry = [](Log_Record r, std::uint64_t entry, std::uint32_t transaction) {
        r.target_vcn = entry / 4;  // four 1024-byte FILE records to a 4096-byte cluster
        r.cluster_index = static_cast<std::uint16_t>((entry % 4) * 2);
        r.transaction_id = transaction;
        return r;
    };
    const auto commit = [](std::uint32_t transaction) {
        return Log_Record{.transaction_id = transaction, .redo_operation = 0x1B, .undo_operation = 0x01};
    };
    // Images of the three FILE records (their LSNs do not matter here).
    const auto images = Entries({0, 0, 0});
    std::vector<Log_Record> records;
    std::vector<std::size_t> last_of_entry(3);
    for (std::uint32_t i = 0; i < 3; ++i) {
        last_of_entry[i] = records.size();
        records.push_back(on_entry(Log_Record{.redo_operation = 0x02, .undo_operation = 0x00, .redo = images[i].Build()},
                                   64 + i, 0x18 + i));
        records.push_back(commit(0x18 + i));
    }
    last_of_entry[2] = records.size();
    records.push_back(on_entry(Log_Record{.redo_operation = 0x03, .undo_operation = 0x02, .undo = Bytes(0x18, 0)}, 66,
                               0x1B));
    records.push_back(commit(0x1B));
    // Records of other work before and after, so that the log spans pages.
    auto before = carving_test::Plain_Records(40, 0x98);
    records.insert(records.begin(), before.begin(), before.end());
    for (std::size_t& index : last_of_entry) index += before.size();
    const auto after = carving_test::Plain_Records(20, 0x98);
    records.insert(records.end(), after.begin(), after.end());

    const auto laid = carving_test::Lay_Numbered(records, 1, 4);
    const auto all = carving_test::Lsns_Of(records, laid, 1, 4);
    lsns.clear();
    for (const std::size_t index : last_of_entry) lsns.push_back(all[index]);
    carving_test::Log_Layout log(carving_test::Log_Version::V11, 16);
    log.Pages(4, std::vector<Bytes>(laid.pages.begin(), laid.pages.end() - 1)).Page(2, laid.pages.back());
    return log.Image();
}

Usn_Journal_Builder Journal() {
    struct Step {
        std::uint64_t entry;
        std::uint16_t sequence;
        std::uint64_t parent;
        const char16_t* name;
        std::uint32_t reason;
        std::uint32_t attributes;
    };
    const Step steps[] = {
        {64, 1, 5, u"Documents", 0x00000100, 0x10},                       // created
        {64, 1, 5, u"Documents", 0x80000100, 0x10},                       // created, closed
        {65, 1, 64, u"New Text Document.txt", 0x80000100, 0x20},          // created, closed
        {65, 1, 64, u"New Text Document.txt", 0x00001000, 0x20},          // old name
        {65, 1, 64, u"notes.txt", 0x80002000, 0x20},                      // new name, closed
        {65, 1, 64, u"notes.txt", 0x80000002, 0x20},                      // data extended, closed
        {66, 1, 64, u"report.docx", 0x80000100, 0x20},                    // created, closed
        {66, 1, 64, u"report.docx", 0x80000200, 0x20},                    // deleted, closed
    };
    Usn_Journal_Builder journal;
    std::uint64_t time = Sample_Time;
    for (const Step& s : steps) {
        journal.Append(Usn_Record_Builder()
                           .Usn(journal.Size())
                           .File_Reference(Mft_Reference(s.entry, s.sequence))
                           .Parent(s.parent == 5 ? Mft_Reference(5, 5) : Mft_Reference(s.parent, 1))
                           .Time_Stamp(time)
                           .Reason(s.reason)
                           .Attributes(s.attributes)
                           .Name(s.name));
        time += Second;
    }
    return journal;
}

void Write_Bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder + "/source");
    std::vector<std::uint64_t> lsns;
    const std::vector<std::uint8_t> log = Log_File(lsns);
    Write_Mft(folder + "/MFT", lsns);
    Write_Bytes(folder + "/LogFile", log);
    const Usn_Journal_Builder journal = Journal();
    journal.Write_File(folder + "/UsnJrnl_J");

    // The journal 8-byte aligned inside 64 KiB of other bytes.
    std::vector<std::uint8_t> piece(65536);
    std::mt19937 random(2026);
    for (auto& b : piece) b = static_cast<std::uint8_t>(random());
    const auto& bytes = journal.Bytes();
    std::copy(bytes.begin(), bytes.end(), piece.begin() + 0x4000);
    Write_Bytes(folder + "/source/volume_piece.bin", piece);

    // The log 64 KiB (a multiple of 4096) into 192 KiB of other bytes.
    carving_test::Carving_Image log_piece(0x30000, 2026);
    log_piece.Put(0x10000, log);
    log_piece.Write(folder + "/source/log_piece.bin");
    std::printf("sample written to %s\n", folder.c_str());
    return 0;
}
