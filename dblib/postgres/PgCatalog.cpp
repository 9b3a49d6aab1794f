// What our library needs inside a database of the server, installed once per database (by
// CREATE DATABASE on the utility database, by zylcreatedb --server, or on the first connection
// that finds it missing and may create it):
//
//   schema zyl   version(version)                 the installed version (kCatalogVersion)
//                option(user_name, option, setting)  permanent options (SET OPTION)
//                the vendor's types the server lacks, as domains: tinyint, "unsigned int",
//                "unsigned smallint", "unsigned bigint", bit (binary(n) ones are made on use)
//                type_text(oid, typmod), domain_of(word, domain_id, width): the type mapping
//                of the catalog views
//                procedure, procparm: stored procedures as written, and their parameters
//                alert_sub, alert_name, alert_msg and the zp_alert_* procedures (PgAlerts.cpp)
//   schema sys   systable, syscolumn, sysdomain, sysuserperm, sysuserperms, sysindex, sysixcol
//                and dummy: views over the server's own catalog with the vendor's columns
//
// Both schemas sit behind the user's and public on every connection's search path, so
// `systable` and `sys.systable` name the same view, and `FROM dummy` works as written.
// Installing again is harmless; a newer library replaces the views of an older version.
#include <string>

#include "dblib/postgres/PgEngine.h"
#include "dblib/postgres/PgProcedures.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {
namespace {

constexpr int kCatalogVersion = 3;

// Base words of the vendor's types and what the type mapping says of them.
std::string DomainOfRows() {
  const char* words[] = {"integer", "smallint", "bigint", "real", "double", "long varchar", "long binary", "bit",
                         "date", "time", "timestamp", "tinyint", "unsigned int", "unsigned smallint",
                         "unsigned bigint", "varchar", "char", "numeric", "decimal", "binary", "varbinary",
                         "uniqueidentifierstr", "float"};
  std::string rows;
  for (const char* w : words) {
    TypeInfo t = MapDeclaredType(w);
    if (!t.Known()) continue;
    if (!rows.empty()) rows += ",";
    rows += "('" + std::string(w) + "'," + std::to_string(t.domainId) + "," + std::to_string(t.width) + ")";
  }
  return rows;
}

std::string SysDomainRows() {
  std::string rows;
  for (const DomainRow& d : Domains()) {
    if (!rows.empty()) rows += ",";
    rows += "(" + std::to_string(d.id) + "::smallint,'" + d.name + "'::varchar(128)," + std::to_string(d.odbcType) +
            "::smallint," + (d.precision < 0 ? std::string("NULL") : std::to_string(d.precision)) + "::smallint)";
  }
  return rows;
}

std::string Script() {
  std::string s;
  s += "CREATE SCHEMA IF NOT EXISTS zyl; CREATE SCHEMA IF NOT EXISTS sys;"
       "GRANT USAGE, CREATE ON SCHEMA zyl TO PUBLIC; GRANT USAGE ON SCHEMA sys TO PUBLIC;"
       "CREATE TABLE IF NOT EXISTS zyl.version(version integer NOT NULL);"
       "CREATE TABLE IF NOT EXISTS zyl.option(user_name text NOT NULL, option text NOT NULL, setting text,"
       " PRIMARY KEY(user_name, option));"
       "GRANT SELECT, INSERT, UPDATE, DELETE ON zyl.option TO PUBLIC;";
  // The vendor's types the server has no name for (a range check keeps their values).
  const char* domains[][2] = {
      {"tinyint", "smallint CHECK (VALUE BETWEEN 0 AND 255)"},
      {"\"unsigned int\"", "bigint CHECK (VALUE BETWEEN 0 AND 4294967295)"},
      {"\"unsigned smallint\"", "integer CHECK (VALUE BETWEEN 0 AND 65535)"},
      {"\"unsigned bigint\"", "numeric(20) CHECK (VALUE BETWEEN 0 AND 18446744073709551615)"},
      {"bit", "smallint CHECK (VALUE IN (0, 1))"},
  };
  for (auto& d : domains)
    s += std::string("DO $$ BEGIN CREATE DOMAIN zyl.") + d[0] + " AS " + d[1] +
         "; EXCEPTION WHEN duplicate_object THEN NULL; END $$;";
  s += "CREATE TABLE IF NOT EXISTS zyl.domain_of(word text PRIMARY KEY, domain_id smallint, width integer);"
       "DELETE FROM zyl.domain_of; INSERT INTO zyl.domain_of VALUES " + DomainOfRows() + ";"
       "GRANT SELECT ON zyl.domain_of TO PUBLIC;";
  s += R"SQL(
CREATE OR REPLACE FUNCTION zyl.type_text(t oid, m integer) RETURNS text LANGUAGE sql STABLE AS $f$
  SELECT CASE WHEN n.nspname = 'zyl' THEN ty.typname ELSE CASE ty.typname
    WHEN 'int4' THEN 'integer' WHEN 'int2' THEN 'smallint' WHEN 'int8' THEN 'bigint'
    WHEN 'float4' THEN 'real' WHEN 'float8' THEN 'double' WHEN 'text' THEN 'long varchar'
    WHEN 'bytea' THEN 'long binary' WHEN 'bool' THEN 'bit' WHEN 'date' THEN 'date'
    WHEN 'time' THEN 'time' WHEN 'timetz' THEN 'time' WHEN 'timestamp' THEN 'timestamp' WHEN 'timestamptz' THEN 'timestamp'
    WHEN 'varchar' THEN CASE WHEN m >= 4 THEN 'varchar(' || (m - 4) || ')' ELSE 'long varchar' END
    WHEN 'bpchar' THEN CASE WHEN m >= 4 THEN 'char(' || (m - 4) || ')' ELSE 'char(1)' END
    WHEN 'numeric' THEN CASE WHEN m >= 4 THEN 'numeric(' || ((m - 4) >> 16) || ',' || ((m - 4) & 65535) || ')' ELSE 'numeric(30,6)' END
    WHEN 'uuid' THEN 'uniqueidentifierstr' ELSE 'long varchar' END END
  FROM pg_type ty JOIN pg_namespace n ON n.oid = ty.typnamespace WHERE ty.oid = t
$f$;
CREATE OR REPLACE VIEW sys.dummy AS SELECT 0::integer AS dummy_col;
CREATE OR REPLACE VIEW sys.sysuserperm AS SELECT r.oid::bigint AS user_id, r.rolname::varchar(128) AS user_name,
  NULL::bytea AS password, CASE WHEN r.rolsuper OR r.rolcreatedb THEN 'Y' ELSE 'N' END::char(1) AS resourceauth,
  CASE WHEN r.rolsuper THEN 'Y' ELSE 'N' END::char(1) AS dbaauth, 'N'::char(1) AS scheduleauth,
  'N'::char(1) AS publishauth, 'N'::char(1) AS remotedbaauth,
  CASE WHEN r.rolcanlogin THEN 'N' ELSE 'Y' END::char(1) AS user_group, NULL::text AS remarks
  FROM pg_roles r WHERE r.rolname NOT LIKE 'pg^_%' ESCAPE '^';
CREATE OR REPLACE VIEW sys.sysuserperms AS SELECT user_id, user_name, resourceauth, dbaauth, scheduleauth,
  publishauth, remotedbaauth, user_group, remarks FROM sys.sysuserperm;
CREATE OR REPLACE VIEW sys.systable AS SELECT c.oid::bigint AS table_id, 0::smallint AS file_id,
  greatest(c.reltuples, 0)::bigint AS count, 0 AS first_page, 0 AS last_page, 0 AS primary_root,
  c.relowner::bigint AS creator, 0 AS first_ext_page, 0 AS last_ext_page, 0 AS table_page_count,
  0 AS ext_page_count, c.relname::varchar(128) AS table_name,
  CASE WHEN c.relkind IN ('v', 'm') THEN 'VIEW' ELSE 'BASE' END::varchar(10) AS table_type,
  CASE WHEN c.relkind IN ('v', 'm') THEN pg_get_viewdef(c.oid) END AS view_def,
  obj_description(c.oid, 'pg_class') AS remarks, 'N'::char(1) AS replicate, 'N'::char(1) AS existing_obj,
  NULL::text AS remote_location, NULL::char(1) AS remote_objtype, NULL::integer AS srvid,
  NULL::char(4) AS server_type, 0::smallint AS primary_hash_limit, 0 AS page_map_start, NULL::text AS source
  FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
  WHERE c.relkind IN ('r', 'p', 'v', 'm') AND n.nspname NOT IN ('pg_catalog', 'information_schema', 'zyl', 'pg_toast')
  AND n.nspname NOT LIKE 'pg^_temp%' ESCAPE '^';
CREATE OR REPLACE VIEW sys.syscolumn AS SELECT a.attrelid::bigint AS table_id, a.attnum::bigint AS column_id,
  CASE WHEN EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary AND a.attnum = ANY(i.indkey))
    THEN 'Y' ELSE 'N' END::char(1) AS pkey,
  d.domain_id AS domain_id, CASE WHEN a.attnotnull THEN 'N' ELSE 'Y' END::char(1) AS nulls,
  coalesce(nullif(substring(x.t FROM '\((\d+)'), '')::integer, d.width)::smallint AS width,
  coalesce(nullif(substring(x.t FROM ',(\d+)\)'), '')::integer, 0)::smallint AS scale, 0 AS estimate,
  0::bigint AS max_identity, a.attname::varchar(128) AS column_name, col_description(a.attrelid, a.attnum) AS remarks,
  CASE WHEN a.attidentity <> '' THEN 'autoincrement' ELSE pg_get_expr(ad.adbin, ad.adrelid) END AS "default",
  NULL::text AS "check", NULL::smallint AS user_type, NULL::varchar(128) AS format_str, 'R'::char(1) AS column_type,
  NULL::varchar(128) AS remote_name, NULL::bigint AS remote_type
  FROM pg_attribute a JOIN sys.systable t ON t.table_id = a.attrelid
  CROSS JOIN LATERAL (SELECT zyl.type_text(a.atttypid, a.atttypmod) AS t) x
  LEFT JOIN zyl.domain_of d ON d.word = regexp_replace(x.t, '\(.*$', '')
  LEFT JOIN pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum
  WHERE a.attnum > 0 AND NOT a.attisdropped;
CREATE OR REPLACE VIEW sys.sysindex AS SELECT i.indrelid::bigint AS table_id, i.indexrelid::bigint AS index_id,
  0 AS root, 0::smallint AS file_id,
  CASE WHEN con.contype = 'u' THEN 'U' WHEN i.indisunique THEN 'Y' ELSE 'N' END::char(1) AS "unique",
  c.relowner::bigint AS creator, c.relname::varchar(128) AS index_name, 0::smallint AS hash_limit,
  'SA'::char(4) AS index_owner, 'SA'::char(4) AS index_type, NULL::text AS remarks
  FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid JOIN sys.systable t ON t.table_id = i.indrelid
  LEFT JOIN pg_constraint con ON con.conindid = i.indexrelid AND con.contype IN ('u', 'p')
  WHERE NOT i.indisprimary;
CREATE OR REPLACE VIEW sys.sysixcol AS SELECT x.table_id, x.index_id, (k.n - 1)::smallint AS sequence,
  k.col::bigint AS column_id, CASE WHEN (i.indoption[k.n - 1] & 1) = 1 THEN 'D' ELSE 'A' END::char(1) AS "order"
  FROM sys.sysindex x JOIN pg_index i ON i.indexrelid = x.index_id
  CROSS JOIN LATERAL unnest(i.indkey::smallint[]) WITH ORDINALITY AS k(col, n) WHERE k.col > 0;
)SQL";
  // Stored procedures: the definition text the library's interpreter runs, and the parameters
  // the catalog lists (the names keep their case; a name is looked up without it).
  s += R"SQL(
CREATE TABLE IF NOT EXISTS zyl.procedure(proc_id integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
  creator bigint NOT NULL, proc_name text NOT NULL, proc_defn text, remarks text);
CREATE UNIQUE INDEX IF NOT EXISTS procedure_name ON zyl.procedure(lower(proc_name), creator);
CREATE TABLE IF NOT EXISTS zyl.procparm(proc_id integer NOT NULL REFERENCES zyl.procedure ON DELETE CASCADE,
  parm_id smallint NOT NULL, parm_type smallint NOT NULL, parm_mode_in char(1) NOT NULL, parm_mode_out char(1) NOT NULL,
  domain_id smallint NOT NULL, width integer NOT NULL, scale smallint NOT NULL, parm_name text NOT NULL,
  "default" text, remarks text, type_text text, PRIMARY KEY(proc_id, parm_id));
GRANT SELECT, INSERT, UPDATE, DELETE ON zyl.procedure, zyl.procparm TO PUBLIC;
CREATE OR REPLACE VIEW sys.sysprocedure AS SELECT proc_id::bigint AS proc_id, creator, proc_name::varchar(128) AS proc_name,
  proc_defn, remarks, 'N'::char(1) AS replicate, NULL::integer AS srvid, NULL::text AS source,
  NULL::double precision AS avg_num_rows, NULL::double precision AS avg_cost, NULL::bytea AS stats FROM zyl.procedure;
CREATE OR REPLACE VIEW sys.sysprocparm AS SELECT proc_id::bigint AS proc_id, parm_id, parm_type, parm_mode_in,
  parm_mode_out, domain_id, width::smallint AS width, scale, parm_name::varchar(128) AS parm_name, remarks, "default",
  NULL::integer AS user_type FROM zyl.procparm;
)SQL";
  s += AlertCatalogSql();
  s += "CREATE OR REPLACE VIEW sys.sysdomain(domain_id, domain_name, type_id, \"precision\") AS VALUES " + SysDomainRows() + ";";
  s += "GRANT SELECT ON ALL TABLES IN SCHEMA sys TO PUBLIC;";
  s += "DELETE FROM zyl.version; INSERT INTO zyl.version VALUES (" + std::to_string(kCatalogVersion) + ");";
  return s;
}

}  // namespace

int CatalogVersion(PGconn* c) {
  pg::Result r(PQexec(c, "SELECT max(version) FROM zyl.version"));
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQgetisnull(r.get(), 0, 0)) return 0;
  return std::atoi(PQgetvalue(r.get(), 0, 0));
}

void InstallCatalog(PGconn* c, bool always) {
  if (!always && CatalogVersion(c) >= kCatalogVersion) return;
  // One transaction, so a failed install leaves the database as it was; concurrent installers
  // wait for each other on the advisory lock.
  std::string sql = "BEGIN; SELECT pg_advisory_xact_lock(7275001); " + Script() + " COMMIT;";
  pg::Result r(PQexec(c, sql.c_str()));
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    SqlError e = pg::FromResult(r.get(), c);
    pg::Result undo(PQexec(c, "ROLLBACK"));
    throw e;
  }
}

}  // namespace dbl
