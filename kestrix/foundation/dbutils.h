#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/db/connection.h"
#include "platform/services/sql_encoder.h"

namespace kestrix {

/// Opens a connection to the application's database (from the calling thread's pool). The
/// connection string comes from the server configuration, looked up once per thread and
/// again while it is blank. Raises with the source "DBUtils.GetConnection".
db::Connection GetConnection();

/// As GetConnection, with the command time-out (seconds; 0 = none) set before opening.
/// Raises with the source "DBUtils.GetConnectionWithODBCTimeoutIs".
db::Connection GetConnectionWithODBCTimeoutIs(int32_t commandTimeout);

/// Closes the connection when open (gives it back to the pool); harmless when closed.
void CloseConnection(db::Connection& connection);

/// The trimmed value of the server parameter `name` (table COLLABORATIONPARAMETER).
/// A missing row is MissingParameter, "Couldn't get the parameter '<name>' from the
/// database.", raised on with the source "DBUtils.GetParameter".
std::string GetParameter(std::string_view name);

/// The calling thread's SQL literal encoder, for the dialect of the application's database.
const services::SqlEncoder& GetSqlEncoder();

/// A complete SQL string literal for the text (placed directly after "= ").
std::string EncodeSqlText(std::string_view text);
/// A literal for a LIKE comparison.
std::string EncodeSqlLike(std::string_view text);
/// A numeric literal.
std::string EncodeSqlNumber(int64_t number);

/// The connection string this thread uses (loading it when blank).
std::string CurrentConnectionString();
/// Forgets the thread's connection string and encoder.
void ResetConnectionCache();

}  // namespace kestrix
