/* The floor of one delivery: the least a program can do to run one statement through ODBC with
 * the same driver DbRelay uses. It connects, executes the statement once, reads the count of
 * affected records and disconnects; nothing else (no settings, no log, no fall-back). Written in
 * C so that it loads no C++ library: what DbRelay spends above it is DbRelay's own cost.
 * Usage: odbc_floor CONNECTION_STRING STATEMENT
 * Exit status: 0 when at least one record was affected, 1 otherwise, 2 on a wrong call. */

#include <sql.h>
#include <sqlext.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: odbc_floor CONNECTION_STRING STATEMENT\n");
    return 2;
  }
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLLEN count = -1;
  int ok = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) &&
           SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) &&
           SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc));
  int connected = ok && SQL_SUCCEEDED(SQLDriverConnect(dbc, NULL, (SQLCHAR*)argv[1], SQL_NTS,
                                                       NULL, 0, NULL, SQL_DRIVER_NOPROMPT));
  ok = connected && SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)) &&
       SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)argv[2], SQL_NTS)) &&
       SQL_SUCCEEDED(SQLRowCount(stmt, &count));
  if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  if (connected) SQLDisconnect(dbc);
  if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  return ok && count >= 1 ? 0 : 1;
}
