// Writes Signature.db from the project's signature list:
//   make_signature_db <signatures.txt> <Signature.db>
// Each row becomes one row of SignatureTable (No in list order, Value giving
// the plain length, Signature the scrambled text). A list with a bad row
// writes nothing and exits with 1, naming every bad line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Signature_List.h"
#include "support/Signature_Db_Builder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_signature_db <signatures.txt> <Signature.db>\n");
        return 2;
    }
    const std::string list_path = argv[1];
    const std::filesystem::path db_path = argv[2];
    std::ifstream in(list_path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", list_path.c_str());
        return 1;
    }
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Signature_List list = Read_Signature_List(content);
    for (const std::string& error : list.Errors) std::fprintf(stderr, "%s: %s\n", list_path.c_str(), error.c_str());
    if (!list.Errors.empty()) return 1;

    Signature_Db_Builder builder;
    for (const Signature_List_Row& row : list.Rows) builder.Add(row.Text);
    // Written aside and moved into place, so that an interrupted run never
    // leaves a half-written database under the real name.
    std::filesystem::path part = db_path;
    part += ".part";
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    if (!builder.Write_File(part.string())) {
        std::fprintf(stderr, "%s: cannot be written\n", part.c_str());
        std::filesystem::remove(part, ignored);
        return 1;
    }
    std::error_code moved;
    std::filesystem::rename(part, db_path, moved);
    if (moved) {
        std::fprintf(stderr, "%s: cannot be replaced: %s\n", db_path.c_str(), moved.message().c_str());
        std::filesystem::remove(part, ignored);
        return 1;
    }
    std::printf("%s: %zu signatures\n", db_path.c_str(), list.Rows.size());
    return 0;
}
