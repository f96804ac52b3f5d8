#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <sstream>
#include <string>

#include "platform/console.h"
#include "platform/file.h"
#include "support/Failing_File.h"
#include "support/Temp_Dir.h"

namespace {

std::string Counting_Bytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i + 1);
    return bytes;
}

}  // namespace

TEST(Read_Only_File, ReadsByOffsetAndZeroFillsAShortBlock) {
    Temp_Dir dir;
    const std::string path = dir.Write("data.bin", Counting_Bytes(10));
    platform::Read_Only_File file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.Size(), 10u);

    std::array<unsigned char, 8> block{};
    block.fill(0xEE);
    EXPECT_EQ(file.Read_At(6, block.data(), block.size()), 4u);  // short at the end
    EXPECT_EQ(block[0], 7);
    EXPECT_EQ(block[3], 10);
    EXPECT_EQ(file.Read_At(10, block.data(), block.size()), 0u);
    EXPECT_EQ(file.Read_At(UINT64_MAX, block.data(), block.size()), 0u);

    block.fill(0xEE);
    EXPECT_TRUE(file.Read_Block(6, block.data(), block.size()));
    EXPECT_EQ((std::array<unsigned char, 8>{7, 8, 9, 10, 0, 0, 0, 0}), block);
    block.fill(0xEE);
    EXPECT_TRUE(file.Read_Block(20, block.data(), block.size()));  // wholly past the end: all zero
    EXPECT_EQ((std::array<unsigned char, 8>{}), block);

    // A moved file keeps reading; the source is closed.
    platform::Read_Only_File moved(std::move(file));
    EXPECT_FALSE(file.Is_Open());
    EXPECT_EQ(file.Read_At(0, block.data(), 1), 0u);
    EXPECT_FALSE(file.Read_Block(0, block.data(), 1));
    ASSERT_TRUE(moved.Is_Open());
    EXPECT_EQ(moved.Read_At(0, block.data(), 2), 2u);
    EXPECT_EQ(block[1], 2);
}

TEST(Read_Only_File, AReadErrorEndsTheFileThereForEveryLaterRead) {
    Temp_Dir dir;
    const std::string bytes = Counting_Bytes(10000);
    Failing_File file(5000);
    const std::string path = dir.Write("data.bin", bytes);
    ASSERT_TRUE(file.Open(path));
    std::ostringstream console, messages;
    platform::Scoped_Output output(console, messages);
    const std::uint64_t cut_before = platform::Inputs_Not_Read_To_End();

    std::string block(4096, '\xEE');
    EXPECT_TRUE(file.Read_Block(4096, block.data(), block.size()));
    EXPECT_EQ(block.substr(0, 904), bytes.substr(4096, 904));
    EXPECT_EQ(block.substr(904), std::string(4096 - 904, '\0'));
    EXPECT_EQ(file.Size(), 5000u);
    // The bytes past the error stay out of reach, though a new read of them
    // would succeed.
    EXPECT_EQ(file.Read_At(6000, block.data(), 10), 0u);
    EXPECT_EQ(file.Read_At(4990, block.data(), 100), 10u);
    EXPECT_TRUE(file.Read_Block(8192, block.data(), block.size()));
    EXPECT_EQ(block, std::string(4096, '\0'));
    // Told once, with the input's name and the byte where reading stopped.
    EXPECT_EQ(platform::Inputs_Not_Read_To_End(), cut_before + 1);
    EXPECT_EQ(messages.str(), "[ERROR] " + path + " is not read to its end: reading stops at byte 5000 (Input/output error).\n");
}

TEST(Read_Only_File, RefusesWhatIsNotARegularFile) {
    Temp_Dir dir;
    platform::Read_Only_File file;
    EXPECT_FALSE(file.Open(dir.Path()));
    EXPECT_FALSE(file.Open(dir.File("missing")));
    EXPECT_FALSE(file.Open(""));

    // A FIFO without a writer: opening it must neither block nor succeed. The
    // alarm ends the test binary if the open ever waits for a writer.
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(10);
    EXPECT_FALSE(file.Open(fifo));
    ::alarm(0);
    EXPECT_FALSE(file.Is_Open());

    // A symbolic link to a regular file is followed; an empty file opens with size 0.
    const std::string empty = dir.Write("empty", "");
    ASSERT_EQ(::symlink(empty.c_str(), dir.File("link").c_str()), 0);
    ASSERT_TRUE(file.Open(dir.File("link")));
    EXPECT_EQ(file.Size(), 0u);
    unsigned char byte = 0xEE;
    EXPECT_TRUE(file.Read_Block(0, &byte, 1));
    EXPECT_EQ(byte, 0);
}

TEST(Paths, ExistenceAndListableDirectory) {
    Temp_Dir dir;
    const std::string file = dir.Write("f", "x");
    const std::string sub = dir.Make_Dir("sub");
    EXPECT_TRUE(platform::Path_Exists(file));
    EXPECT_TRUE(platform::Path_Exists(sub));
    EXPECT_FALSE(platform::Path_Exists(dir.File("missing")));
    EXPECT_FALSE(platform::Path_Exists(""));

    EXPECT_TRUE(platform::Is_Listable_Directory(sub));
    EXPECT_TRUE(platform::Is_Listable_Directory(sub + "/"));
    EXPECT_FALSE(platform::Is_Listable_Directory(file));
    EXPECT_FALSE(platform::Is_Listable_Directory(dir.File("missing")));
    EXPECT_FALSE(platform::Is_Listable_Directory(""));

    EXPECT_EQ(platform::Join_Path("/out", "QVM_x.db"), "/out/QVM_x.db");
    EXPECT_FALSE(platform::Current_Directory().empty());
}
