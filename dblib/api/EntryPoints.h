// The bodies of the dbpp_* entry points, shared by every flavour. The exported C names live in
// the per-flavour shims (EntryPointsShim7.cpp: version-7 argument lists; EntryPointsShim6.cpp:
// the argument record after the SQLCA), which only forward here. Each body validates its
// SQLCA and arguments, never throws, and leaves its outcome in the SQLCA.
#pragma once

#include "dblib/esql.h"

namespace dbl::pp {

void Prepare(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *text, struct sqlda *descriptor, unsigned options);
void PrepareDescribe(SQLCA *sqlca, char *cursor, char *progname, short *stmtnum, char *text, struct sqlda *in, struct sqlda *out, unsigned what, unsigned short longnames, a_sql_uint32 options);
void PrepareExecDrop(SQLCA *sqlca, char *text, struct sqlda *in, struct sqlda *out);
void Dropstmt(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum);
void Describe(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *descriptor, unsigned what);
void DescribeCursor(SQLCA *sqlca, char *cursor, struct sqlda *descriptor, unsigned what);
void DescribeNames(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *cursor, struct sqlda *descriptor, unsigned what, unsigned short namespec);
void Declare(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum, a_sql_uint32 options);
void Open(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum, struct sqlda *in, short blocksize, short isolation, a_sql_uint32 options);
void Fetch(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda *descriptor, short blocksize, unsigned short options);
void FetchArray(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda *descriptor, short blocksize, unsigned short options, unsigned short rows);
void GetData(SQLCA *sqlca, char *cursor, unsigned short column, a_sql_int32 offset, struct sqlda *descriptor, unsigned short reserved);
void PutInto(SQLCA *sqlca, char *cursor, struct sqlda *in, struct sqlda *out);
void Update(SQLCA *sqlca, char *cursor, struct sqlda *descriptor);
void Delete(SQLCA *sqlca, char *cursor, char *owner, char *table);
void Resume(SQLCA *sqlca, char *cursor);
void Close(SQLCA *sqlca, char *cursor);
void Explain(SQLCA *sqlca, char *cursor, unsigned short reserved, struct sqlda *descriptor);
void ExecuteInto(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *in, struct sqlda *out);
void ExecuteImm(SQLCA *sqlca, char *text, unsigned short kind);
void Commit(SQLCA *sqlca, unsigned reserved);
void Rollback(SQLCA *sqlca, unsigned reserved);
void Getoption(SQLCA *sqlca, int reserved, char *user, char *option, struct sqlda *out);
void Setoption(SQLCA *sqlca, int temporary, char *user, char *option, struct sqlda *value);
void Disconnect(SQLCA *sqlca, char *conn_name);
void Setconnect(SQLCA *sqlca, char *conn_name);

}  // namespace dbl::pp
