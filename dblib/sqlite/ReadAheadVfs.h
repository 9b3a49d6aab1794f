// The file layer our connections open their database files through: SQLite's default file
// layer, with reads that run on in sequence served from a buffer filled by one large read.
//
// SQLite reads a database file one page (4 KB) at a time, one system call each. A scan of a
// table, or the count of its rows an open with exact row counts makes first, reads page after
// page in file order; on a virtual machine each call costs more than copying its page. Once a
// read starts where the previous one ended, the file layer reads kChunk bytes at once and serves
// the following pages from them: a sixteenth of the calls for the same bytes. Reads out of
// sequence (look-ups by key) go straight to the file, as before.
//
// The buffer holds pages as one read transaction sees them. A page SQLite reads from the database
// file does not change while the transaction that reads it lasts (in WAL mode a checkpoint only
// writes pages that the reader takes from the log; otherwise writers wait for the readers' lock),
// so the buffer is dropped whenever the file's or the log index's locks change hands, on every
// write or truncation through the handle and on every file control: it never outlives the
// transaction that filled it. Only main database files get a buffer; logs and journals are read
// as before. A buffer is 64 KB per open database file, allocated at its first sequential read.
#pragma once

#include <sqlite3.h>

namespace dbl {

// The name to open a database file with (sqlite3_open_v2's last argument). The file layer is
// registered with SQLite at the first call and unregistered when the library is unloaded.
const char* ReadAheadVfsName();

}  // namespace dbl
