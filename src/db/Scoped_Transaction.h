// Runs a stage's many single-row statements inside one transaction, so the
// rows are written once at the end rather than one by one. The values stored
// are the same. Every stage that writes in bulk uses this one helper.
#pragma once

#include "db/CppSQLite3.h"

class Scoped_Transaction {
public:
    // A BEGIN that fails is reported ("BEGIN Error") and leaves every
    // statement to commit by itself; the stage goes on, and its COMMIT is
    // still issued (it ends a transaction that was open already, or reports
    // that none is).
    explicit Scoped_Transaction(CppSQLite3DB& db);
    // Commits what the stage inserted, also when the stage ends early.
    ~Scoped_Transaction();
    Scoped_Transaction(const Scoped_Transaction&) = delete;
    Scoped_Transaction& operator=(const Scoped_Transaction&) = delete;

    // Commits now; a COMMIT that fails (a reader holding the file past the
    // busy timeout) is tried again a few times, then reported ("commit
    // Error"). The transaction then stays open, so its rows are not lost:
    // a later COMMIT (Commit_Left_Open at the end of the run) can still
    // keep them. False when BEGIN or COMMIT failed.
    bool Commit();

    static constexpr int Commit_Attempts = 3;

private:
    CppSQLite3DB& db_;
    bool open_ = false;
    bool failed_ = false;
};

// Commits a transaction that a failed COMMIT left open; reports a failure as
// the stage's did. True when nothing was left open or the COMMIT worked.
bool Commit_Left_Open(CppSQLite3DB& db);
