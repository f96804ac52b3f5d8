// Writes a small sample of extracted NTFS metadata for a first run:
//   make_sample <folder>
// gives <folder>/MFT, <folder>/UsnJrnl_J and <folder>/source/volume_piece.bin
// (the journal's bytes inside other data, for carving).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/Mft_Record_Builder.h"
#include "support/Usn_Record_Builder.h"

using namespace test_support;

namespace {

// 2026-03-01 20:15:00 UTC and one second, as FILETIME ticks.
constexpr std::uint64_t Sample_Time = 134168697000000000ull;
constexpr std::uint64_t Second = 10000000ull;

void Write_Mft(const std::string& path) {
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image, 1024, Sample_Time);
    image.Put(64, Mft_Record_Builder()
                      .Flags(Record_Flags::Directory)
                      .Sequence(1)
                      .Standard_Information(Sample_Time, Sample_Time, Sample_Time, Sample_Time)
                      .File_Name(Mft_Reference(5, 5), u"Documents"));
    image.Put(65, Mft_Record_Builder()
                      .Flags(Record_Flags::File)
                      .Sequence(1)
                      .Standard_Information(Sample_Time + Second, Sample_Time + 2 * Second)
                      .File_Name(Mft_Reference(64, 1), u"notes.txt")
                      .Data(120));
    image.Put(66, Mft_Record_Builder()
                      .Flags(Record_Flags::Deleted_File)
                      .Sequence(2)
                      .Standard_Information(Sample_Time + 3 * Second)
                      .File_Name(Mft_Reference(64, 1), u"report.docx")
                      .Data(20000, false));
    image.Write_File(path, 80);
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
    Write_Mft(folder + "/MFT");
    const Usn_Journal_Builder journal = Journal();
    journal.Write_File(folder + "/UsnJrnl_J");

    // The journal 8-byte aligned inside 64 KiB of other bytes.
    std::vector<std::uint8_t> piece(65536);
    std::mt19937 random(2026);
    for (auto& b : piece) b = static_cast<std::uint8_t>(random());
    const auto& bytes = journal.Bytes();
    std::copy(bytes.begin(), bytes.end(), piece.begin() + 0x4000);
    Write_Bytes(folder + "/source/volume_piece.bin", piece);
    std::printf("sample written to %s\n", folder.c_str());
    return 0;
}
