#pragma once

#include <string>
#include <string_view>
#include <vector>

// The game servers run anything from MySQL 5.1 to 8.x and MariaDB 5.5 to 11.x. Every statement
// the tool builds uses only SQL functions that all of them document, listed here next to the
// checker that tests run over the statements the tool really sends.
namespace mrvn {

// Functions documented by MySQL 5.1 and later and by MariaDB 5.5 and later, with the same
// meaning everywhere. Not here on purpose: WEIGHT_STRING (MySQL 5.6, MariaDB 10.0.5), window
// functions and JSON functions (MySQL 8.0, MariaDB 10.2); and a CAST to DOUBLE or FLOAT
// (MySQL 8.0.17): "+ 0e0" gives the double value on every server.
inline constexpr std::string_view kPortableSqlFunctions[] = {
    "CAST",     "CHAR_LENGTH", "COALESCE", "CONCAT",   "CONVERT",      "COUNT", "CURDATE",
    "DATABASE", "DATE",        "DATE_ADD", "DATE_SUB", "GROUP_CONCAT", "HEX",   "IF",
    "IFNULL",   "LENGTH",      "MAX",      "MIN",      "NOW",          "SUM",   "UNIX_TIMESTAMP",
};

// Types a CAST may name on every server (CAST(x AS type)).
inline constexpr std::string_view kPortableCastTypes[] = {
    "BINARY", "CHAR", "DATE", "DATETIME", "DECIMAL", "SIGNED", "TIME", "UNSIGNED",
};

// The functions a statement calls that are not in kPortableSqlFunctions (upper case, in order
// of appearance, each once), and each CAST to a type outside kPortableCastTypes as
// "CAST AS <TYPE>". A call is an identifier followed by "(" outside string literals, quoted
// identifiers and comments; keywords that take a parenthesis (IN, VALUES, AND, ...) are no
// calls, and a qualified name (db.f) is reported whole.
std::vector<std::string> FunctionsOutsideAllowedList(std::string_view sql);

// True for the server errors that say a statement's SQL is not understood by this server
// version (syntax, unknown function, wrong function arguments, unknown character set or
// collation), as opposed to a missing table, missing rights or a lost connection.
bool IsUnsupportedSqlError(unsigned serverError);

} // namespace mrvn
