// tarlivo-mdb-reader FILE: reads the three tables of a data file of the older
// Access-based program and writes them to standard output (see legacystream.h).
//
// A process of its own because the library can crash on a damaged file and reports
// errors only by printing them; the program survives both and judges the result by
// the stream, the exit status and the row counts.

#include "legacy/legacystream.h"

// mdbtools.h includes glib inside extern "C"; glib must come first in C++.
#include <glib.h>
#include <mdbtools.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace tarlivo::legacy;

// Row flags live in the top bits of a row's offset.
constexpr int kRowOffsetMask = 0x1fff;
// Text fields are UTF-16 (or compressed to one byte a character); their UTF-8 form
// takes at most twice the stored bytes. The library cuts longer values silently, so
// every conversion gets room for more than that.
constexpr std::size_t kBindFactor = 3;
constexpr std::size_t kMinBindSize = 16384;

class Output {
public:
    explicit Output(std::FILE *file) : m_file(file) {}

    void bytes(const void *data, std::size_t size)
    {
        if (size && std::fwrite(data, 1, size, m_file) != size)
            m_failed = true;
    }
    void tag(char t) { bytes(&t, 1); }
    void u32(std::uint32_t v)
    {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        bytes(b, 4);
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void string(const char *s, std::size_t size)
    {
        u32(static_cast<std::uint32_t>(size));
        bytes(s, size);
    }
    void string(const char *s) { string(s, std::strlen(s)); }

    // Ends the stream; the exit status of the reader.
    int finish()
    {
        if (std::fflush(m_file) != 0 || std::ferror(m_file))
            m_failed = true;
        return m_failed ? kExitWriteError : kExitOk;
    }
    int fail(Failure code, const std::string &detail)
    {
        tag(kFailure);
        u32(code);
        string(detail.data(), detail.size());
        return finish() == kExitOk ? kExitFailure : kExitWriteError;
    }

private:
    std::FILE *m_file;
    bool m_failed = false;
};

// The column's index in the table (Access names ignore case); -1 when it has none.
int findColumn(MdbTableDef *table, const char *name)
{
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        if (g_ascii_strcasecmp(col->name, name) == 0)
            return int(i);
    }
    return -1;
}

bool holdsTextOrNumber(int type)
{
    switch (type) {
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_NUMERIC:
    case MDB_TEXT:
    case MDB_MEMO:
        return true;
    default:
        return false;
    }
}

// Writes one field of the row on the current page; false when a long text lost its pages.
bool writeField(Output &out, MdbHandle *mdb, const MdbColumn *col, const MdbField &field)
{
    if (field.is_null) {
        out.i32(kNull);
        return true;
    }
    // A memo's header holds the length of its text, which may lie on other pages.
    const bool memo = col->col_type == MDB_MEMO && field.siz >= MDB_MEMO_OVERHEAD;
    const std::size_t memoLength = memo ? std::size_t(mdb_get_int32(mdb->pg_buf, field.start)) & 0x3fffffff : 0;
    const std::size_t stored = std::max(field.siz > 0 ? std::size_t(field.siz) : 0, memoLength);
    const std::size_t bindSize = std::max(kMinBindSize, stored * kBindFactor + 64);
    mdb_set_bind_size(mdb, bindSize);

    char *text = col->col_type == MDB_NUMERIC
                     ? mdb_numeric_to_string(mdb, field.start, col->col_scale, col->col_prec)
                     : mdb_col_to_string(mdb, mdb->pg_buf, field.start, col->col_type, field.siz);
    const std::size_t length = text ? std::strlen(text) : 0;
    // A memo of some characters that comes back empty lost the pages it lay on
    // (two bytes are only the mark of a compressed text).
    const bool lost = memoLength > 2 && length == 0;
    out.i32(std::int32_t(length));
    out.bytes(text, length);
    g_free(text);
    return !lost && length + 1 < bindSize;
}

// Returns 0 when the table went out whole (or is missing), else the exit status.
int writeTable(Output &out, MdbHandle *mdb, const TableSpec &layout)
{
    MdbTableDef *table = mdb_read_table_by_name(mdb, const_cast<gchar *>(layout.name), MDB_TABLE);
    if (!table) {
        out.tag(kMissingTable);
        out.string(layout.name);
        return 0;
    }
    mdb_read_columns(table);
    std::vector<int> columns;
    for (int c = 0; c < layout.columnCount; ++c) {
        const int index = findColumn(table, layout.columns[c]);
        const std::string where = std::string(layout.name) + "." + layout.columns[c];
        if (index < 0) {
            mdb_free_tabledef(table);
            return out.fail(kMissingColumn, where);
        }
        if (!holdsTextOrNumber(static_cast<MdbColumn *>(g_ptr_array_index(table->columns, index))->col_type)) {
            mdb_free_tabledef(table);
            return out.fail(kUnsupportedColumn, where);
        }
        columns.push_back(index);
    }

    out.tag(kTable);
    out.string(layout.name);
    out.u32(table->num_rows);
    out.u32(std::uint32_t(layout.columnCount));
    for (int c = 0; c < layout.columnCount; ++c)
        out.string(layout.columns[c]);

    // Nothing is bound: the row is taken apart here, because only its null flags
    // tell an empty text from NULL, and each text gets a buffer of its own size.
    std::vector<MdbField> fields(std::max(1u, table->num_cols));
    std::uint32_t read = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        int start = 0;
        std::size_t size = 0;
        if (table->cur_row == 0 || mdb_find_row(mdb, int(table->cur_row) - 1, &start, &size) != 0
            || mdb_crack_row(table, start & kRowOffsetMask, size, fields.data()) < 0) {
            mdb_free_tabledef(table);
            return out.fail(kDamagedRow, layout.name);
        }
        out.tag(kRow);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            // The library fills fields in column order.
            const MdbField &field = fields[std::size_t(columns[c])];
            const auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, columns[c]));
            if (!writeField(out, mdb, col, field)) {
                const std::string where = std::string(layout.name) + "." + layout.columns[c];
                mdb_free_tabledef(table);
                return out.fail(kDamagedText, where);
            }
        }
        ++read;
    }
    out.tag(kTableEnd);
    out.u32(read);
    mdb_free_tabledef(table);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argc > 0 ? argv[0] : "tarlivo-mdb-reader");
        return kExitUsage;
    }
    // The stream keeps the real standard output to itself; whatever the library
    // prints goes to standard error.
    const int streamFd = ::dup(STDOUT_FILENO);
    if (streamFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return kExitWriteError;
    std::FILE *stream = ::fdopen(streamFd, "wb");
    if (!stream)
        return kExitWriteError;
    static char buffer[1 << 16];
    std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);
    Output out(stream);
    out.bytes(kMagic, sizeof kMagic);

    // Texts arrive as UTF-8; no debugging options may change what is read.
    ::setenv("MDBICONV", "UTF-8", 1);
    ::unsetenv("MDBOPTS");

    const char *path = argv[1];
    MdbHandle *mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        return out.fail(kCannotOpen, "open");
    struct stat st {};
    if (::stat(path, &st) != 0 || mdb->fmt->pg_size <= 0 || st.st_size % mdb->fmt->pg_size != 0) {
        mdb_close(mdb);
        return out.fail(kTruncated, std::to_string(st.st_size));
    }
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        mdb_close(mdb);
        return out.fail(kCannotOpen, "catalogue");
    }
    out.tag(kJetVersion);
    out.u32(mdb->f->jet_version);

    for (const TableSpec &layout : kTables) {
        if (const int status = writeTable(out, mdb, layout)) {
            mdb_close(mdb);
            return status;
        }
    }
    out.tag(kEnd);
    mdb_close(mdb);
    return out.finish();
}
