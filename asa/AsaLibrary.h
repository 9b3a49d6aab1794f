// Private helpers of the SQL Anywhere session: the process-wide callback table and the small text
// helpers the session's units share.
#pragma once
#pragma GCC visibility push(default)

#include "asa/ZylAsa.h"

namespace asa_detail {

// The plain function the library calls for callback Index (0, 1, 2, 7, 8 or 9); nullptr for
// any other index.
SQL_CALLBACK_PARM CallbackFunction(a_db_callback_index Index);
// The process-wide table: (SQLCA, index) -> the session that registered the callback.
void BindCallback(SQLCA* Ca, a_db_callback_index Index, TAsaSession* Session);
void ReleaseCallback(SQLCA* Ca, a_db_callback_index Index);
void ReleaseSession(TAsaSession* Session);  // every binding of the session
TAsaSession* FindCallbackSession(SQLCA* Ca, a_db_callback_index Index);
int CallbackBindingCount();  // bindings held, for tests of the release rule

// The callback db_locate_servers calls; its user argument is the session.
int LocateServersCallback(SQLCA* Ca, a_server_address* Address, void* User);

// The file-name part of a path given with '/' or '\' separators.
AnsiString FileNamePart(const AnsiString& Path);

}  // namespace asa_detail
#pragma GCC visibility pop
