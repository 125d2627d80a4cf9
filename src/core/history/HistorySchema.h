#pragma once
// The layout of the history file and the steps that bring a file of any
// earlier version to the present one. The version is PRAGMA user_version.
//
// Version 1 kept every text in its row. Version 2 keeps each distinct text
// once in `names` and refers to it by number, which more than halves a
// finished connection's size on disk.

class HistoryDatabase;

class HistorySchema {
public:
    static constexpr int CurrentVersion = 2;
    // Raised (as HistoryError's code) for a file of a later version than this program knows.
    static constexpr int NewerVersionCode = 0x7F000001;

    // Creates the tables of a new file or migrates an older one, in one transaction.
    static void Prepare(HistoryDatabase& db);

private:
    static void Create(HistoryDatabase& db);
    static void MigrateFrom1(HistoryDatabase& db);
};
