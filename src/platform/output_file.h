// The files a run writes into its output folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The suffix of every output file's name while the run writes it.
inline constexpr char Partial_Suffix[] = ".partial";

// The output folder of a run, resolved once when the run starts: a link in
// its path that is changed later, or the folder itself replaced by a link,
// never sends a later file elsewhere. Every file is written under its final
// name + ".partial" and renamed to its final name when the run ends
// (Publish), so a file of a final name is always complete and on disk; a run
// that is killed leaves only ".partial" files.
class Output_Folder {
public:
    Output_Folder() = default;
    ~Output_Folder();
    Output_Folder(const Output_Folder&) = delete;
    Output_Folder& operator=(const Output_Folder&) = delete;

    // Resolves `path` (realpath) and opens the folder it names. False when it
    // names no folder that can be opened.
    bool Open(const std::string& path);
    bool Is_Open() const { return fd_ >= 0; }
    // The resolved path.
    const std::string& Path() const { return path_; }
    int Descriptor() const { return fd_; }
    // Where `name` is written while the run lasts: <folder>/<name>.partial.
    std::string Partial_Path(const std::string& name) const;

    // Whether `name` and its ".partial" name are both free (no file, no link).
    bool Is_Free(const std::string& name) const;
    // Creates `name` + ".partial" empty, for a writer that opens it by its
    // path (SQLite): only when neither name exists, and never through a link.
    // False when a name is taken (errno EEXIST) or the file cannot be made.
    bool Reserve(const std::string& name);

    // A file written to its end: flushed to disk (`flush`: the writer did not
    // flush it itself) and renamed by Publish, in the order of these calls.
    // False when the flush failed; the file then stays under ".partial".
    bool Finished(const std::string& name, bool flush = false);

    // Renames every finished file to its final name, never replacing a file
    // there, then flushes the folder to disk. A file that cannot be renamed is
    // reported on the message stream and stays under ".partial". False when
    // a rename or the flush failed.
    bool Publish();

private:
    std::string path_;
    int fd_ = -1;
    std::vector<std::string> finished_;
};

// Starts writing a file to disk while another writer (SQLite) fills it: on
// a thread of its own, a few times a second, what was written meanwhile is
// handed to the disk, so that flushing the file when the run ends waits for
// little more than its last part. The file's contents are not touched.
class Background_Writeback {
public:
    // Starts for the file at `path`; does nothing when it cannot be opened
    // or no thread can be started.
    explicit Background_Writeback(const std::string& path);
    // Stops, waiting for the thread.
    ~Background_Writeback();
    Background_Writeback(const Background_Writeback&) = delete;
    Background_Writeback& operator=(const Background_Writeback&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A file the run writes into its output folder, under its ".partial" name.
// Created only when no file of its name (or ".partial" name) exists, and
// never through a link at that name: a run never truncates another run's
// file, nor writes where a planted link points. Writes are buffered; a failed
// write or close is remembered, so a file cut short by a full disk is never
// taken for a whole one.
class Output_File {
public:
    Output_File() = default;
    ~Output_File();  // writes what is buffered and closes, quietly; the file stays ".partial"
    Output_File(const Output_File&) = delete;
    Output_File& operator=(const Output_File&) = delete;

    // False when a name is taken, is a link, or the file cannot be made.
    bool Create(Output_Folder& folder, const std::string& name);
    bool Is_Open() const { return fd_ >= 0; }
    explicit operator bool() const { return Is_Open(); }

    void Write(std::string_view bytes);
    // Writes what is buffered, flushes the file to disk and closes it; the
    // folder then renames it when the run ends. False when any write, the
    // flush or the close failed (the file then stays under ".partial").
    bool Close();
    // Writes what is buffered and closes, leaving the file under its
    // ".partial" name: it does not hold all it should. False when a write or
    // the close failed.
    bool Close_Partial();
    bool Failed() const { return failed_; }

private:
    void Flush();

    Output_Folder* folder_ = nullptr;
    std::string name_;
    int fd_ = -1;
    bool failed_ = false;
    std::uint64_t written_ = 0;
    std::string buffer_;
};

}  // namespace platform
