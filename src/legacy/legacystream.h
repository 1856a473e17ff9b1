#pragma once

// The stream in which tarlivo-mdb-reader hands the tables of an old Access file to
// the program. Plain C++ only: the reader links neither Qt nor the store.
//
// All integers are little-endian. A string is a u32 byte count and its bytes.
//
//   magic        8 bytes, kMagic
//   'V' u32      the file's Jet version (0 = Jet 3, 1 = Jet 4)
//   per table, in the order of kTables:
//     'M' string                      the table is missing or unreadable, or
//     'T' string u32 u32 {string}     name, rows the table declares, column count,
//                                     the column names (those of kTables, in order)
//     'R' {i32 [bytes]}               one row: per column a byte count (kNull for
//                                     NULL) and the value as UTF-8 text
//     'E' u32                         rows actually read
//   'Z'                               the end; the reader exits with 0
//
// On a failure the reader writes 'F' u32 code string detail and exits with
// kExitFailure. Whatever else it exits with, or a stream without 'Z', means it died.

#include <cstdint>

namespace tarlivo::legacy {

inline constexpr char kMagic[8] = {'T', 'L', 'V', 'M', 'D', 'B', '1', '\n'};

enum Record : char {
    kJetVersion = 'V',
    kTable = 'T',
    kMissingTable = 'M',
    kRow = 'R',
    kTableEnd = 'E',
    kFailure = 'F',
    kEnd = 'Z',
};

enum Failure : std::uint32_t {
    kCannotOpen = 1,        // not a file the library can open, or its catalogue is unreadable
    kTruncated = 2,         // the file is not made of whole pages: its end is missing
    kMissingColumn = 3,     // detail: "table.column"
    kUnsupportedColumn = 4, // a column of a type that holds no text or number; detail as above
    kDamagedRow = 5,        // a row the library returned but cannot take apart; detail: table
    kDamagedText = 6,       // a long text whose pages are gone; detail: "table.column"
};

inline constexpr std::int32_t kNull = -1;

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFailure = 3;
inline constexpr int kExitWriteError = 4;

struct TableSpec {
    const char *name;
    int columnCount;
    const char *columns[4];
};

// The tables and columns the program takes over, in stream order.
inline constexpr TableSpec kTables[] = {
    {"tblGebiet", 2, {"idGebiet", "NameGebiet"}},
    {"tblFrageAntwort", 4, {"idFrageAntwort", "idGebiet", "Frage", "Antwort"}},
    {"tblPosition", 3, {"idFrageAntwort", "Fach", "Stelle"}},
};
inline constexpr int kTableCount = 3;

} // namespace tarlivo::legacy
