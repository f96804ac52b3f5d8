// Reads the rows of one query from a database file as "a|b|c" lines (NULL
// fields as "NULL"), independent of the program's own wrapper.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

inline std::vector<std::string> Query_Rows(const std::string& db_path, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int n, char** values, char**) {
                std::string row;
                for (int i = 0; i < n; ++i) {
                    if (i != 0) row += '|';
                    row += values[i] != nullptr ? values[i] : "NULL";
                }
                static_cast<std::vector<std::string>*>(out)->push_back(row);
                return 0;
            },
            &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
}
