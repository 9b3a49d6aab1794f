// zylo: the modern C++ face of the components. One include gives the whole layer:
//
//   zylo::error        every failure, with the server's SQLCODE and SQL state  (zylo/error.h)
//   zylo::connection   queries with typed rows, one/maybe/execute, prepared statements,
//   zylo::statement    named and positional parameters, a statement cache   (zylo/connection.h)
//   zylo::transaction  rolls back unless committed                           (zylo/connection.h)
//   value mapping      integers, floating, decimal, text, bytes, std::chrono dates, times and
//                      time stamps, std::optional for NULL, streams for long values (zylo/values.h)
//   zylo::pool         connections shared between threads                    (zylo/pool.h)
//
// The layer sits on TAsaSession and TAsaSQL and hides neither: connection::session() and
// statement::component() give them back for everything the layer does not cover. Link with zylo.
#pragma once

#include "zylo/connection.h"
#include "zylo/error.h"
#include "zylo/pool.h"
#include "zylo/values.h"
