/* The public interface of our embedded-SQL client library: the communication area (SQLCA), the
 * descriptor areas (SQLDA, SQLVAR, SQLNAME), the host-type structures, the type codes, the
 * SQLCODE constants and the prototypes of every entry point, laid out byte for byte as the
 * vendor's client library publishes them for x86-64 Linux (natural alignment, 4-byte
 * a_sql_int32). Applications and bindings include this header for the structures and codes and
 * load the library by file name; nothing here depends on how the library works inside.
 *
 * Calling conventions by library version: from version 7 on the prototypes below are exact.
 * The flavours that report versions 4, 5 and 6 take, for every dbpp_* call (including
 * dbpp_commit, dbpp_rollback, dbpp_getoption and dbpp_setoption), one extra pointer right after
 * the SQLCA: the caller's 22-byte argument record (see dbl_argument_record). The version-4
 * flavour does not export db_version_check, db_get_property, db_locate_servers,
 * db_string_ping_server or db_time_change.
 *
 * Threads: one SQLCA per thread; a connection is used by one thread at a time. Only
 * db_cancel_request and db_is_working may be called on an SQLCA that another thread is using.
 */
#ifndef ZYL_DBLIB_ESQL_H
#define ZYL_DBLIB_ESQL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define _esqlentry_ __attribute__((visibility("default")))
#else
#define _esqlentry_
#endif
#define SQL_CALLBACK

/* ---- integer types (x86-64 Linux: the 32-bit types are int, never long) ---- */
typedef int a_sql_int32;
typedef unsigned int a_sql_uint32;
typedef long a_sql_int64;
typedef unsigned long a_sql_uint64;
typedef a_sql_int32 an_sql_code;
typedef char an_sql_state[6];
typedef short a_sql_len;
typedef unsigned short a_sql_ulen;
typedef short a_sql_type;
typedef unsigned short a_sql_data_type;
typedef short a_sql_statement_number;
typedef unsigned short a_sqlpp_version_number;

/* ---- SQLCA: 136 bytes ---- */
struct sqlwarn {
    unsigned char sqlwarn0, sqlwarn1, sqlwarn2, sqlwarn3, sqlwarn4;
    unsigned char sqlwarn5, sqlwarn6, sqlwarn7, sqlwarn8, sqlwarn9;
};

typedef struct sqlca {
    unsigned char sqlcaid[8];   /* "SQLCA", written by db_init                            */
    a_sql_int32 sqlcabc;        /* 136                                                    */
    an_sql_code sqlcode;        /* 0 success, > 0 warning, < 0 error                      */
    short sqlerrml;             /* bytes used in sqlerrmc                                 */
    unsigned char sqlerrmc[70]; /* message parameters (not the text), separated by 0xFF   */
    unsigned char sqlerrp[8];
    a_sql_int32 sqlerrd[6];     /* [1] I/O count, [2] SQLCOUNT, [3] I/O estimate          */
    struct sqlwarn sqlwarn;
    an_sql_state sqlstate;      /* 5 characters + NUL                                     */
} SQLCA;

#define SQLCODE (sqlcaptr->sqlcode)
#define SQLSTATE (sqlcaptr->sqlstate)
#define SQLIOCOUNT (sqlcaptr->sqlerrd[1])
#define SQLCOUNT (sqlcaptr->sqlerrd[2])
#define SQLIOESTIMATE (sqlcaptr->sqlerrd[3])

/* ---- SQLDA ---- */
#define SQL_MAX_NAME_LEN 30

struct sqlname {
    short length;                 /* bytes used in data                                  */
    char data[SQL_MAX_NAME_LEN];  /* not NUL-terminated when 30 bytes long                */
};
typedef struct sqlname SQLNAME;
typedef struct sqlname SQLDA_NAME;

struct sqlvar {
    short sqltype;         /* DT_ code; bit 0 = nullable                                     */
    a_sql_len sqllen;      /* length by type (see the DT_ codes)                             */
    void *sqldata;         /* value; NULL = not involved / unbound                            */
    a_sql_len *sqlind;     /* 16-bit indicator or NULL                                       */
    struct sqlname sqlname;
};
typedef struct sqlvar SQLVAR;
typedef struct sqlvar SQLDA_VARIABLE;

struct sqlda {
    unsigned char sqldaid[8]; /* "SQLDA   "                                                  */
    a_sql_int32 sqldabc;      /* sizeof(SQLDA) + (sqln - 1) * sizeof(SQLVAR)                  */
    short sqln;               /* entries allocated                                           */
    short sqld;               /* entries in use                                              */
    struct sqlvar sqlvar[1];
};
typedef struct sqlda SQLDA;

#define SQLDASIZE(n) (sizeof(struct sqlda) + ((n) - 1) * sizeof(struct sqlvar))
#define PRECISION(l) ((l) & 0xFF)
#define SCALE(l) ((l) / 256)
#define SET_PRECISION_SCALE(l, p, s) ((l) = (a_sql_len)((s) * 256 + (p)))
#define DECIMALSTORAGE(l) (PRECISION(l) / 2 + 1)

/* ---- host-type structures ---- */
typedef struct VARCHAR {
    a_sql_ulen len;
    char array[1];
} VARCHAR;
typedef struct BINARY {
    a_sql_ulen len;
    char array[1];
} BINARY;
typedef struct LONGVARCHAR {
    a_sql_uint32 array_len;   /* capacity of array (set by the program)                      */
    a_sql_uint32 stored_len;  /* bytes in array                                              */
    a_sql_uint32 untrunc_len; /* full length of the value                                    */
    char array[1];
} LONGVARCHAR, LONGBINARY, LONGNVARCHAR;
#define LONGVARCHARSIZE(n) (offsetof(LONGVARCHAR, array) + (n))
#define LONGBINARYSIZE(n) LONGVARCHARSIZE(n)
#define LONGNVARCHARSIZE(n) LONGVARCHARSIZE(n)
#define _VARCHARSIZE(n) (offsetof(VARCHAR, array) + (n))
#define _BINARYSIZE(n) (offsetof(BINARY, array) + (n))

/* DT_TIMESTAMP_STRUCT data: the packed 14-byte record (microsecond at offset 10) on every
 * platform, because record buffers reserve 14 bytes for a date, time or time stamp. month is
 * 0-based; day_of_week and day_of_year are ignored on input. */
#pragma pack(push, 1)
typedef struct sqldatetime {
    unsigned short year;
    unsigned char month;       /* 0 .. 11                                                   */
    unsigned char day_of_week; /* 0 = Sunday                                                */
    unsigned short day_of_year;
    unsigned char day;         /* 1 .. 31                                                   */
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
    a_sql_uint32 microsecond;
} SQLDATETIME, DATETIME, DT_TIMESTAMP_STRUCT;
#pragma pack(pop)

/* ---- type codes ---- */
#define DT_NOTYPE 0
#define DT_DATE 384
#define DT_TIME 388
#define DT_TIMESTAMP_STRUCT 390
#define DT_TIMESTAMP 392
#define DT_VARCHAR 448
#define DT_FIXCHAR 452
#define DT_LONGVARCHAR 456
#define DT_STRING 460
#define DT_DOUBLE 480
#define DT_FLOAT 482
#define DT_DECIMAL 484
#define DT_INT 496
#define DT_SMALLINT 500
#define DT_BINARY 524
#define DT_LONGBINARY 528
#define DT_VARIABLE 600
#define DT_TINYINT 604
#define DT_BIGINT 608
#define DT_UNSINT 612
#define DT_UNSSMALLINT 616
#define DT_UNSBIGINT 620
#define DT_BIT 624
#define DT_NSTRING 628
#define DT_NFIXCHAR 632
#define DT_NVARCHAR 636
#define DT_LONGNVARCHAR 640
#define DT_TYPES 0x03FE
#define DT_FLAGS 0xFC01
#define DT_NULLS_ALLOWED 0x0001

/* flag bits DESCRIBE writes into the indicators */
#define DT_PROCEDURE_OUT 0x8000
#define DT_PROCEDURE_IN 0x4000
#define DT_UPDATABLE 0x2000
#define DT_DESCRIBE_INPUT 0x1000
#define DT_AUTO_INCREMENT 0x0800
#define DT_KEY_COLUMN 0x0400
#define DT_HIDDEN_COLUMN 0x0200
#define DT_HAS_USERTYPE_INFO 0x0100

/* ---- cursor option bits (dbpp_declare, dbpp_open, dbpp_prepare) ---- */
#define CUR_CLOSE_ON_COMMIT 0x0001
#define CUR_READ_ONLY 0x0002
#define CUR_NO_SCROLL_OLD 0x0004
#define CUR_BLOCK_GIVEN 0x0020
#define CUR_ISOLATION_GIVEN 0x0040
#define CUR_SCROLL 0x0080
#define CUR_SENSITIVE 0x0100
#define CUR_BY_LOCK 0x0200
#define CUR_INSENSITIVE 0x0400
#define CUR_UNIQUE 0x0800
#define CUR_FOR_UPDATE 0x1000
#define CUR_BY_TIMESTAMP 0x2000
#define CUR_NO_SCROLL 0x4000

/* ---- fetch ---- */
#define FETCH_ABSOLUTE 1
#define FETCH_RELATIVE 2
#define FETCH_OPT_FOR_UPDATE 0x08
#define FETCH_OPT_PURGE 0x10
#define FETCH_OPT_BLOCK 0x20

/* ---- describe kinds ---- */
#define DESCRIBE_OUTPUT 1
#define DESCRIBE_INPUT 2
#define DESCRIBE_ALL 3
#define DESCRIBE_LONG_NAMES 5
#define DESCRIBE_VARIABLE_RESULT 8
#define DESCRIBE_OUTPUT_VARIABLE 9
#define DESCRIBE_NAMES_COLUMN 1
#define DESCRIBE_NAMES_TABLE 2
#define DESCRIBE_NAMES_TABLE_COLUMN 3
#define DESCRIBE_NAMES_OWNER_TABLE_COLUMN 7

#define FILL_SQLDA_FLAG_RETURN_DT_LONG 0x0001

/* ---- callbacks ---- */
typedef int(SQL_CALLBACK *SQL_CALLBACK_PARM)();
typedef enum a_db_callback_index {
    DB_CALLBACK_START = 0,
    DB_CALLBACK_WAIT = 1,
    DB_CALLBACK_FINISH = 2,
    DB_CALLBACK_ASYNC_RESPONSE = 3,
    DB_CALLBACK_TRANSLATE_IN = 4,
    DB_CALLBACK_TRANSLATE_OUT = 5,
    DB_CALLBACK_UNKNOWN_EVENT = 6,
    DB_CALLBACK_MESSAGE = 7,
    DB_CALLBACK_CONN_DROPPED = 8,
    DB_CALLBACK_DEBUG_MESSAGE = 9,
    DB_CALLBACK_VALIDATE_FILE_TRANSFER = 10,
    DB_MAX_CALLBACK = 11
} a_db_callback_index;
#define MESSAGE_TYPE_INFO 0
#define MESSAGE_TYPE_WARNING 1
#define MESSAGE_TYPE_ACTION 2
#define MESSAGE_TYPE_STATUS 3
#define MESSAGE_TYPE_PROGRESS 4

/* db_find_engine flags */
#define DB_ENGINE 0x0001
#define DB_CLIENT 0x0002
#define DB_CAN_MULTI_DB_NAME 0x0004
#define DB_DATABASE_SPECIFIED 0x0008
#define DB_ACTIVE_CONNECTION 0x0010
#define DB_CONNECTION_DIRTY 0x0020
#define DB_CAN_MULTI_CONNECT 0x0040
#define DB_NO_DATABASES 0x0080

/* db_get_property */
typedef enum a_db_property {
    DB_PROP_SERVER_ADDRESS = 0,
    DB_PROP_DBLIB_VERSION = 1,
    DB_PROP_CLIENT_CHARSET = 2
} a_db_property;

/* db_connection_info kinds */
#define DB_CONNINFO_ENGINE_VERSION 1
#define DB_CONNINFO_ENGINE_NAME 2
#define DB_CONNINFO_DATABASE_NAME 3

/* db_version_check numbers */
#define SQLPP_DBLIB_VERSION_WSQL40 4
#define SQLPP_DBLIB_VERSION_SA50 4
#define SQLPP_DBLIB_VERSION_ASA6 6
#define SQLPP_DBLIB_VERSION_ASA7 7
#define SQLPP_DBLIB_VERSION_ASA8 8
#define SQLPP_DBLIB_VERSION_ASA9 9
#define SQLPP_DBLIB_VERSION_SA10 10

/* ---- backup ---- */
#define DB_BACKUP_START 1
#define DB_BACKUP_OPEN_FILE 2
#define DB_BACKUP_READ_PAGE 3
#define DB_BACKUP_CLOSE_FILE 4
#define DB_BACKUP_END 5
#define DB_BACKUP_READ_RENAME_LOG 6
#define DB_BACKUP_PARALLEL_START 7
#define DB_BACKUP_PARALLEL_READ 8
#define DB_BACKUP_MAX_FILE 12
#define DB_BACKUP_WRITE_FILE (-1)
#define DB_BACKUP_TRANS_LOG_FILE (-2)
#define DB_BACKUP_VERSION 1

#define DB_MAX_IDENTIFIER_LEN 128
#define PORT_TYPE_TCP 6

/* db_locate_servers_ex flags */
#define DB_LOOKUP_FLAG_NUMERIC 0x0001
#define DB_LOOKUP_FLAG_DATABASES 0x0002
#define DB_LOOKUP_FLAG_ADDRESS_INCLUDES_PORT 0x0004

/* The port every engine is reported at (the vendor's default). */
#define DB_DEFAULT_SERVER_PORT 2638

typedef struct a_server_address {
    a_sql_uint32 port_type;
    a_sql_uint32 port_num;
    char *name;
    char *address;
    char *dbname; /* db_locate_servers_ex with DB_LOOKUP_FLAG_DATABASES; else NULL */
} a_server_address;

/* ---- SQLCODE values ---- */
#define SQLE_NOERROR 0
#define SQLE_NOTFOUND 100
#define SQLE_TRUNCATED 101
#define SQLE_TEMPORARY_TABLE 102
#define SQLE_CANNOT_CONVERT 103
#define SQLE_ROW_UPDATED_WARNING 104
#define SQLE_PROCEDURE_COMPLETE 105
#define SQLE_COLUMN_VALUE_CHANGED 106
#define SQLE_NULL_VALUE_ELIMINATED 109
#define SQLE_CANNOT_EXECUTE_STMT 111
#define SQLE_NONDETERMINISTIC_RESULT 122
#define SQLE_WARNING 200
#define SQLE_NO_DATABASE_FILE (-72)
#define SQLE_DATABASE_NOT_ACTIVE (-74)
#define SQLE_START_STOP_DATABASE_DENIED (-75)
#define SQLE_REQUEST_DENIED_NO_DATABASES (-76)
#define SQLE_ALIAS_CLASH (-77)
#define SQLE_DYNAMIC_MEMORY_EXHAUSTED (-78)
#define SQLE_INVALID_LOCAL_OPTION (-79)
#define SQLE_UNABLE_TO_START_ENGINE (-80)
#define SQLE_INVALID_COMMAND_LINE (-81)
#define SQLE_UNABLE_TO_START_DATABASE (-82)
#define SQLE_DATABASE_NOT_FOUND (-83)
#define SQLE_INVALID_DATABASE (-84)
#define SQLE_COMMUNICATIONS_ERROR (-85)
#define SQLE_NO_MEMORY (-86)
#define SQLE_DATABASE_NAME_REQUIRED (-87)
#define SQLE_ENGINE_ALREADY_RUNNING (-96)
#define SQLE_ENGINE_NOT_RUNNING (-100)
#define SQLE_NOT_CONNECTED (-101)
#define SQLE_TOO_MANY_CONNECTIONS (-102)
#define SQLE_INVALID_LOGON (-103)
#define SQLE_UNABLE_TO_CONNECT (-105)
#define SQLE_CONNECTION_NOT_FOUND (-108)
#define SQLE_STILL_ACTIVE_CONNECTIONS (-109)
#define SQLE_NAME_NOT_UNIQUE (-110)
#define SQLE_INDEX_NAME_NOT_UNIQUE (-111)
#define SQLE_EXISTING_PRIMARY_KEY (-112)
#define SQLE_NO_PRIMARY_KEY (-118)
#define SQLE_PERMISSION_DENIED (-121)
#define SQLE_INVALID_STATEMENT (-130)
#define SQLE_SYNTAX_ERROR (-131)
#define SQLE_STATEMENT_ERROR (-132)
#define SQLE_INVALID_STATEMENT_TYPE (-133)
#define SQLE_NOT_IMPLEMENTED (-134)
#define SQLE_UNKNOWN_USERID (-140)
#define SQLE_TABLE_NOT_FOUND (-141)
#define SQLE_CORRELATION_NAME_NOT_FOUND (-142)
#define SQLE_COLUMN_NOT_FOUND (-143)
#define SQLE_COLUMN_AMBIGUOUS (-144)
#define SQLE_UNKNOWN_FUNC (-148)
#define SQLE_INVALID_GROUP_SELECT (-149)
#define SQLE_AGGREGATES_NOT_ALLOWED (-150)
#define SQLE_WRONG_PARAMETER_COUNT (-154)
#define SQLE_VARIABLE_INVALID (-155)
#define SQLE_EXPRESSION_ERROR (-156)
#define SQLE_CONVERSION_ERROR (-157)
#define SQLE_OVERFLOW_ERROR (-158)
#define SQLE_INVALID_COLUMN_NUMBER (-159)
#define SQLE_DESCRIBE_NONSELECT (-160)
#define SQLE_INVALID_DESCRIBE_TYPE (-161)
#define SQLE_CURSOR_NOT_DECLARED (-170)
#define SQLE_OPEN_CURSOR_ERROR (-171)
#define SQLE_CURSOR_ALREADY_OPEN (-172)
#define SQLE_CURSOR_NOT_OPEN (-180)
#define SQLE_NO_INDICATOR (-181)
#define SQLE_SQLDA_TOO_SMALL (-182)
#define SQLE_INDEX_NOT_FOUND (-183)
#define SQLE_TOO_MANY_RECORDS (-185)
#define SQLE_SUBQUERY_RESULT_NOT_UNIQUE (-186)
#define SQLE_CURSOROP_NOT_ALLOWED (-187)
#define SQLE_NOT_ENOUGH_HOST_VARS (-188)
#define SQLE_NON_UPDATEABLE_COLUMN (-190)
#define SQLE_CANNOT_MODIFY (-191)
#define SQLE_NON_UPDATEABLE_VIEW (-192)
#define SQLE_PRIMARY_KEY_NOT_UNIQUE (-193)
#define SQLE_INVALID_FOREIGN_KEY (-194)
#define SQLE_COLUMN_CANNOT_BE_NULL (-195)
#define SQLE_INDEX_NOT_UNIQUE (-196)
#define SQLE_NO_CURRENT_ROW (-197)
#define SQLE_PRIMARY_KEY_VALUE_REF (-198)
#define SQLE_ONLY_ONE_TABLE (-199)
#define SQLE_INVALID_OPTION (-200)
#define SQLE_INVALID_OPTION_SETTING (-201)
#define SQLE_WRONG_NUM_OF_INSERT_COLS (-207)
#define SQLE_ROW_UPDATED_SINCE_READ (-208)
#define SQLE_INVALID_COLUMN_VALUE (-209)
#define SQLE_LOCKED (-210)
#define SQLE_MUST_BE_ONLY_CONNECTION (-211)
#define SQLE_TABLE_IN_USE (-214)
#define SQLE_PROCEDURE_IN_USE (-215)
#define SQLE_SAVEPOINT_NOTFOUND (-220)
#define SQLE_UNKNOWN_BACKUP_OPERATION (-240)
#define SQLE_BACKUP_NOT_STARTED (-241)
#define SQLE_BACKUP_CANNOT_RENAME_LOG_YET (-242)
#define SQLE_BACKUP_UNABLE_TO_DELETE_FILE (-243)
#define SQLE_IDENTIFIER_TOO_LONG (-250)
#define SQLE_VARIABLE_NOT_FOUND (-260)
#define SQLE_VARIABLE_EXISTS (-261)
#define SQLE_LABEL_NOT_FOUND (-262)
#define SQLE_INVALID_FETCH_POSITION (-263)
#define SQLE_WRONG_NUM_OF_FETCH_VARIABLES (-264)
#define SQLE_PROCEDURE_NOT_FOUND (-265)
#define SQLE_ATOMIC_OPERATION (-267)
#define SQLE_NESTING_TOO_DEEP (-274)
#define SQLE_INVALID_FORMAT_STRING_ARG_NUM (-294)
#define SQLE_ERROR_NUMBER_OUT_OF_RANGE (-296)
#define SQLE_USER_DEFINED_EXCEPTION (-297)
#define SQLE_DOUBLE_REQUEST (-298)
#define SQLE_INTERRUPTED (-299)
#define SQLE_ERROR (-300)
#define SQLE_DATABASE_ERROR (-301)
#define SQLE_TERMINATED_BY_USER (-302)
#define SQLE_DISK_WRITE_FAILED (-303)
#define SQLE_DEVICE_FULL (-304)
#define SQLE_DEVICE_ERROR (-305)
#define SQLE_DEADLOCK (-306)
#define SQLE_THREAD_DEADLOCK (-307)
#define SQLE_CONNECTION_TERMINATED (-308)
#define SQLE_MEMORY_ERROR (-309)
#define SQLE_LOG_CORRUPTED (-311)
#define SQLE_INVALID_PARAMETER_NAME (-615)
#define SQLE_DIV_ZERO_ERROR (-628)
#define SQLE_INVALID_ESCAPE_SEQ (-630)
#define SQLE_RAISERROR_STMT (-631)
#define SQLE_READ_ONLY_CURSOR (-633)
#define SQLE_STRING_RIGHT_TRUNCATION (-638)
#define SQLE_PARAMETER_NAME_MISSING (-639)
#define SQLE_INVALID_DESCRIPTOR_INDEX (-640)
#define SQLE_ERROR_IN_ASSIGNMENT (-641)
#define SQLE_SQLDA_INCONSISTENT (-700)
#define SQLE_DB_INIT_NOT_CALLED (-739)
#define SQLE_SQLDA_INVALID_DATATYPE (-759)
#define SQLE_INVALID_SQL_IDENTIFIER (-760)
#define SQLE_UNABLE_TO_CONNECT_OR_START (-764)
#define SQLE_FILE_IN_USE (-816)
#define SQLE_CONNECTION_ERROR (-832)
#define SQLE_INVALID_SQLLEN (-856)
#define SQLE_ROLLBACK_RANGE_LOW (-320)
#define SQLE_ROLLBACK_RANGE_HIGH (-300)

/* ---- entry points: library, connections, servers ---- */
_esqlentry_ int db_init(SQLCA *sqlca);
_esqlentry_ int db_fini(SQLCA *sqlca);
_esqlentry_ unsigned db_string_connect(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned db_string_disconnect(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned db_start_engine(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned db_stop_engine(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned db_start_database(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned db_stop_database(SQLCA *sqlca, char *parms);
_esqlentry_ unsigned short db_find_engine(SQLCA *sqlca, char *name);
_esqlentry_ unsigned db_string_ping_server(SQLCA *sqlca, char *parms, unsigned connect_to_db);
_esqlentry_ void db_register_a_callback(SQLCA *sqlca, a_db_callback_index index, SQL_CALLBACK_PARM callback);
_esqlentry_ int db_cancel_request(SQLCA *sqlca);
_esqlentry_ unsigned short db_is_working(SQLCA *sqlca);
_esqlentry_ void db_delete_file(SQLCA *sqlca, char *filename);
_esqlentry_ unsigned db_locate_servers(SQLCA *sqlca, SQL_CALLBACK_PARM callback, void *user);
_esqlentry_ unsigned db_locate_servers_ex(SQLCA *sqlca, SQL_CALLBACK_PARM callback, void *user, unsigned bitmask);
_esqlentry_ void db_backup(SQLCA *sqlca, int op, int file_num, a_sql_uint32 page_num, struct sqlda *descriptor);
_esqlentry_ unsigned db_get_property(SQLCA *sqlca, a_db_property property, char *buf, int bufsize);
_esqlentry_ unsigned db_time_change(SQLCA *sqlca);
_esqlentry_ char *sqlerror_message(SQLCA *sqlca, char *buffer, int max);
_esqlentry_ unsigned sql_needs_quotes(SQLCA *sqlca, char *identifier);
_esqlentry_ unsigned short db_connection_info(SQLCA *sqlca, short kind, struct sqlda *descriptor);
_esqlentry_ short db_version_check(unsigned short version);
_esqlentry_ void db_interface_option(SQLCA *sqlca, int option, a_sql_int32 value);

/* ---- descriptor areas (no SQLCA) ---- */
_esqlentry_ struct sqlda *alloc_sqlda(unsigned numvar);
_esqlentry_ struct sqlda *alloc_sqlda_noind(unsigned numvar);
_esqlentry_ struct sqlda *fill_sqlda(struct sqlda *descriptor);
_esqlentry_ struct sqlda *fill_sqlda_ex(struct sqlda *descriptor, unsigned flags);
_esqlentry_ struct sqlda *fill_s_sqlda(struct sqlda *descriptor, unsigned maxlen);
_esqlentry_ void free_sqlda(struct sqlda *descriptor);
_esqlentry_ void free_sqlda_noind(struct sqlda *descriptor);
_esqlentry_ void free_filled_sqlda(struct sqlda *descriptor);
_esqlentry_ a_sql_uint32 sqlda_storage(struct sqlda *descriptor, int varno);
_esqlentry_ a_sql_uint32 sqlda_string_length(struct sqlda *descriptor, int varno);
_esqlentry_ void *DBAlloc(size_t size);
_esqlentry_ void *DBRealloc(void *p, size_t size);
_esqlentry_ void DBFree(void *p);

/* ---- statements and cursors (version 7 and later argument lists) ----
 * (ZYL_ESQL_NO_PP_PROTOTYPES leaves them out, for code that defines the older lists.) */
#ifndef ZYL_ESQL_NO_PP_PROTOTYPES
_esqlentry_ void dbpp_prepare(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *text,
                              struct sqlda *descriptor, unsigned options);
_esqlentry_ void dbpp_prepare_describe(SQLCA *sqlca, char *cursor, char *progname, short *stmtnum, char *text,
                                       struct sqlda *in, struct sqlda *out, unsigned what, unsigned short longnames,
                                       a_sql_uint32 options);
_esqlentry_ void dbpp_prepare_exec_drop(SQLCA *sqlca, char *text, struct sqlda *in, struct sqlda *out);
_esqlentry_ void dbpp_dropstmt(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum);
_esqlentry_ void dbpp_describe(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *descriptor,
                               unsigned what);
_esqlentry_ void dbpp_describe_cursor(SQLCA *sqlca, char *cursor, struct sqlda *descriptor, unsigned what);
_esqlentry_ void dbpp_describe_names(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, char *cursor,
                                     struct sqlda *descriptor, unsigned what, unsigned short namespec);
_esqlentry_ void dbpp_declare(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum,
                              a_sql_uint32 options);
_esqlentry_ void dbpp_open(SQLCA *sqlca, char *cursor, char *stmt_name, char *progname, short *stmtnum,
                           struct sqlda *in, short blocksize, short isolation, a_sql_uint32 options);
_esqlentry_ void dbpp_fetch(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset,
                            struct sqlda *descriptor, short blocksize, unsigned short options);
_esqlentry_ void dbpp_fetch_array(SQLCA *sqlca, char *cursor, unsigned short offset_type, a_sql_int32 offset,
                                  struct sqlda *descriptor, short blocksize, unsigned short options,
                                  unsigned short rows);
_esqlentry_ void dbpp_get_data(SQLCA *sqlca, char *cursor, unsigned short column, a_sql_int32 offset,
                               struct sqlda *descriptor, unsigned short reserved);
_esqlentry_ void dbpp_put_into(SQLCA *sqlca, char *cursor, struct sqlda *in, struct sqlda *out);
_esqlentry_ void dbpp_update(SQLCA *sqlca, char *cursor, struct sqlda *descriptor);
_esqlentry_ void dbpp_delete(SQLCA *sqlca, char *cursor, char *owner, char *table);
_esqlentry_ void dbpp_resume(SQLCA *sqlca, char *cursor);
_esqlentry_ void dbpp_close(SQLCA *sqlca, char *cursor);
_esqlentry_ void dbpp_explain(SQLCA *sqlca, char *cursor, unsigned short reserved, struct sqlda *descriptor);
_esqlentry_ void dbpp_execute_into(SQLCA *sqlca, char *stmt_name, char *progname, short *stmtnum, struct sqlda *in,
                                   struct sqlda *out);
_esqlentry_ void dbpp_execute_imm(SQLCA *sqlca, char *text, unsigned short kind);
_esqlentry_ void dbpp_commit(SQLCA *sqlca, unsigned reserved);
_esqlentry_ void dbpp_rollback(SQLCA *sqlca, unsigned reserved);
_esqlentry_ void dbpp_getoption(SQLCA *sqlca, int reserved, char *user, char *option, struct sqlda *out);
_esqlentry_ void dbpp_setoption(SQLCA *sqlca, int temporary, char *user, char *option, struct sqlda *value);
_esqlentry_ void dbpp_disconnect(SQLCA *sqlca, char *conn_name);
_esqlentry_ void dbpp_setconnect(SQLCA *sqlca, char *conn_name);
#endif

/* ---- test support (not part of the vendor's interface) ----
 * zyl_fault_fail_after(n, rc): the n-th counted SQLite call from now on returns rc instead of
 * running; (0, 0) disarms. Lets tests drive the library's error paths for real. */
_esqlentry_ void zyl_fault_fail_after(int n, int rc);

#ifdef __cplusplus
}

static_assert(sizeof(SQLCA) == 136, "SQLCA is 136 bytes");
static_assert(offsetof(SQLCA, sqlerrmc) == 18 && offsetof(SQLCA, sqlerrd) == 96, "SQLCA layout");
static_assert(offsetof(SQLCA, sqlwarn) == 120 && offsetof(SQLCA, sqlstate) == 130, "SQLCA layout");
static_assert(sizeof(SQLVAR) == 56 && offsetof(SQLVAR, sqlname) == 24, "SQLVAR layout");
static_assert(offsetof(SQLDA, sqlvar) == 16 && sizeof(SQLDA) == 72, "SQLDA layout");
static_assert(sizeof(SQLNAME) == 32, "SQLNAME layout");
static_assert(sizeof(SQLDATETIME) == 14 && offsetof(SQLDATETIME, microsecond) == 10, "packed date-time record");
static_assert(offsetof(LONGVARCHAR, array) == 12, "LONGVARCHAR header");
static_assert(offsetof(VARCHAR, array) == 2, "VARCHAR header");
#endif

#endif
