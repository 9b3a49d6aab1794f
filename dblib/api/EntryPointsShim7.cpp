// Exported dbpp_* names, version-7 argument lists (the prototypes of esql.h).
#include "dblib/api/EntryPoints.h"

extern "C" {

_esqlentry_ void dbpp_prepare(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *text, struct sqlda *descriptor, unsigned options) { dbl::pp::Prepare(sqlca, stmt_name, progname, stmtnum, text, descriptor, options); }
_esqlentry_ void dbpp_prepare_describe(SQLCA *sqlca, char *cursor, char *progname, short *stmtnum, char *text, struct sqlda *in, struct sqlda *out, unsigned what, unsigned short longnames, a_sql_uint32 options) { dbl::pp::PrepareDescribe(sqlca, cursor, progname, stmtnum, text, in, out, what, longnames, options); }
_esqlentry_ void dbpp_prepare_exec_drop(SQLCA *sqlca, char *text, struct sqlda *in, struct sqlda *out) { dbl::pp::PrepareExecDrop(sqlca, text, in, out); }
_esqlentry_ void dbpp_dropstmt(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum) { dbl::pp::Dropstmt(sqlca, stmt_name, progname, stmtnum); }
_esqlentry_ void dbpp_describe(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *descriptor, unsigned what) { dbl::pp::Describe(sqlca, stmt_name, progname, stmtnum, descriptor, what); }
_esqlentry_ void dbpp_describe_cursor(SQLCA *sqlca, char *cursor, struct sqlda *descriptor, unsigned what) { dbl::pp::DescribeCursor(sqlca, cursor, descriptor, what); }
_esqlentry_ void dbpp_describe_names(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *cursor, struct sqlda *descriptor, unsigned what, unsigned short namespec) { dbl::pp::DescribeNames(sqlca, stmt_name, progname, stmtnum, cursor, descriptor, what, namespec); }
_esqlentry_ void dbpp_declare(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum, a_sql_uint32 options) { dbl::pp::Declare(sqlca, cursor, stmt_name, progname, stmtnum, options); }
_esqlentry_ void dbpp_open(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum, struct sqlda *in, short blocksize, short isolation, a_sql_uint32 options) { dbl::pp::Open(sqlca, cursor, stmt_name, progname, stmtnum, in, blocksize, isolation, options); }
_esqlentry_ void dbpp_fetch(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda *descriptor, short blocksize, unsigned short options) { dbl::pp::Fetch(sqlca, cursor, offset_type, offset, descriptor, blocksize, options); }
_esqlentry_ void dbpp_fetch_array(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset, struct sqlda *descriptor, short blocksize, unsigned short options, unsigned short rows) { dbl::pp::FetchArray(sqlca, cursor, offset_type, offset, descriptor, blocksize, options, rows); }
_esqlentry_ void dbpp_get_data(SQLCA *sqlca, char *cursor, unsigned short column, a_sql_int32 offset, struct sqlda *descriptor, unsigned short reserved) { dbl::pp::GetData(sqlca, cursor, column, offset, descriptor, reserved); }
_esqlentry_ void dbpp_put_into(SQLCA *sqlca, char *cursor, struct sqlda *in, struct sqlda *out) { dbl::pp::PutInto(sqlca, cursor, in, out); }
_esqlentry_ void dbpp_update(SQLCA *sqlca, char *cursor, struct sqlda *descriptor) { dbl::pp::Update(sqlca, cursor, descriptor); }
_esqlentry_ void dbpp_delete(SQLCA *sqlca, char *cursor, char *owner, char *table) { dbl::pp::Delete(sqlca, cursor, owner, table); }
_esqlentry_ void dbpp_resume(SQLCA *sqlca, char *cursor) { dbl::pp::Resume(sqlca, cursor); }
_esqlentry_ void dbpp_close(SQLCA *sqlca, char *cursor) { dbl::pp::Close(sqlca, cursor); }
_esqlentry_ void dbpp_explain(SQLCA *sqlca, char *cursor, unsigned short reserved, struct sqlda *descriptor) { dbl::pp::Explain(sqlca, cursor, reserved, descriptor); }
_esqlentry_ void dbpp_execute_into(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *in, struct sqlda *out) { dbl::pp::ExecuteInto(sqlca, stmt_name, progname, stmtnum, in, out); }
_esqlentry_ void dbpp_execute_imm(SQLCA *sqlca, char *text, unsigned short kind) { dbl::pp::ExecuteImm(sqlca, text, kind); }
_esqlentry_ void dbpp_commit(SQLCA *sqlca, unsigned reserved) { dbl::pp::Commit(sqlca, reserved); }
_esqlentry_ void dbpp_rollback(SQLCA *sqlca, unsigned reserved) { dbl::pp::Rollback(sqlca, reserved); }
_esqlentry_ void dbpp_getoption(SQLCA *sqlca, int reserved, char *user, char *option, struct sqlda *out) { dbl::pp::Getoption(sqlca, reserved, user, option, out); }
_esqlentry_ void dbpp_setoption(SQLCA *sqlca, int temporary, char *user, char *option, struct sqlda *value) { dbl::pp::Setoption(sqlca, temporary, user, option, value); }
_esqlentry_ void dbpp_disconnect(SQLCA *sqlca, char *conn_name) { dbl::pp::Disconnect(sqlca, conn_name); }
_esqlentry_ void dbpp_setconnect(SQLCA *sqlca, char *conn_name) { dbl::pp::Setconnect(sqlca, conn_name); }

}  // extern "C"
