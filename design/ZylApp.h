// ZylApp: what a running application can reach — the sessions on its forms and data modules,
// found by database name, and, through one of them, the base tables, stored procedures and
// columns of the connected database. Editors fill their drop-down lists with these routines;
// applications may call them too.
//
// A session's database name is its LoginDatabase reduced by ZylExtractFilePrefix: a full path to
// "Sample.db" and the bare name "sample" name the same database (names compare without case).
// Sessions whose LoginDatabase is blank are neither listed nor found; of two sessions with equal
// names the list keeps the first met (forms in screen order, then data modules; components in
// their owner's order).
//
// The catalog routines run an ordinary query through a data set of the class the caller gives
// (a TZyloDataset descendant with a factory), so this unit knows no server binding:
//   List.BeginUpdate, cleared --> session found? (no: empty list, not an error)
//     --> Session.OpenSession (connects when it was not) --> data set created, attached, query
//         set, opened, walked, freed --> Session.CloseSession --> List.EndUpdate
// Errors (connect, prepare, open) propagate to the caller after every step above is undone.
#pragma once
#pragma GCC visibility push(default)

#include "base/Zylbase.h"
#include "host/Classes.h"

// Replaces List with one entry per session found: the database name, with the session as object.
void ZylGetDatabaseNames(TStrings* List);
// The session listed under DatabaseName (reduced the same way), or nullptr.
TZyloSession* ZylFindDatabase(const AnsiString& DatabaseName);

// Base tables: all creators', or only those created by user id 1; "owner.table" when Qualified.
void ZylGetTableNames(const AnsiString& DatabaseName, bool AllCreators, bool Qualified, TStrings* List,
                      const TMetaClass& DatasetClass);
// Stored procedures; "owner.procedure" when Qualified.
void ZylGetStoredProcNames(const AnsiString& DatabaseName, bool Qualified, TStrings* List,
                           const TMetaClass& DatasetClass);
// Columns of TableName ("table" or "owner.table") in column order. Blanks around the owner are
// dropped, blanks around the table kept. An empty table part gives an empty list.
void ZylGetFieldNames(const AnsiString& DatabaseName, const AnsiString& TableName, TStrings* List,
                      const TMetaClass& DatasetClass);
#pragma GCC visibility pop
