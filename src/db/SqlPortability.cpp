#include "db/SqlPortability.h"

#include <mysqld_error.h>

#include <algorithm>
#include <iterator>

namespace mrvn {

namespace {

// Words that may stand right before "(" without being a function call.
constexpr std::string_view kKeywords[] = {
    "ALL",   "AND",    "ANY",   "AS",     "BETWEEN", "BY",     "CASE",  "DISTINCT", "ELSE",
    "END",   "EXISTS", "FROM",  "HAVING", "IN",      "INTO",   "IS",    "JOIN",     "LIKE",
    "LIMIT", "NOT",    "ON",    "OR",     "OVER",    "REGEXP", "RLIKE", "SELECT",   "SET",
    "SOME",  "THEN",   "UNION", "USING",  "VALUE",   "VALUES", "WHEN",  "WHERE",    "XOR",
};

// Words after which a name before "(" is a table or an index, not a function; an index hint's
// INDEX or KEY ("FORCE INDEX (PRIMARY)") is none either.
constexpr std::string_view kNameIntroducers[] = {"FORCE", "IGNORE", "INDEX", "INTO",
                                                 "KEY",   "REFERENCES", "TABLE", "USE"};

bool IsWordStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsWordChar(char c)
{
    return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string Upper(std::string_view word)
{
    std::string out(word);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

template <std::size_t N> bool Contains(const std::string_view (&list)[N], std::string_view word)
{
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

// Skips a quoted text starting at `i` (on the quote); returns the index after the closing
// quote. Backslash escapes apply inside ' and " literals; a doubled quote stands for itself.
std::size_t SkipQuoted(std::string_view sql, std::size_t i)
{
    const char quote = sql[i];
    for (++i; i < sql.size(); ++i) {
        if (sql[i] == '\\' && quote != '`') {
            ++i;
        } else if (sql[i] == quote) {
            if (i + 1 < sql.size() && sql[i + 1] == quote)
                ++i;
            else
                return i + 1;
        }
    }
    return sql.size();
}

} // namespace

std::vector<std::string> FunctionsOutsideAllowedList(std::string_view sql)
{
    std::vector<std::string> found;
    const auto report = [&found](std::string name) {
        if (std::find(found.begin(), found.end(), name) == found.end())
            found.push_back(std::move(name));
    };
    // The function each open parenthesis belongs to ("" for a plain one), so that the type of
    // a CAST is known when its AS comes.
    std::vector<std::string> open;
    std::string previous; // the last word, upper case
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`') {
            i = SkipQuoted(sql, i);
            previous.clear();
        } else if (c == '#' || (c == '-' && sql.substr(i, 3) == "-- ")) {
            const std::size_t end = sql.find('\n', i);
            i = end == std::string_view::npos ? sql.size() : end + 1;
        } else if (c == '/' && sql.substr(i, 2) == "/*") {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? sql.size() : end + 2;
        } else if (c == '@') {
            // User and system variables (@x, @@x) are no calls.
            while (i < sql.size() && (sql[i] == '@' || IsWordChar(sql[i]) || sql[i] == '.'))
                ++i;
            previous.clear();
        } else if (c >= '0' && c <= '9') {
            // Numbers, 0e0 and 0x1F included.
            while (i < sql.size() && (IsWordChar(sql[i]) || sql[i] == '.'))
                ++i;
            previous.clear();
        } else if (IsWordStart(c)) {
            std::size_t end = i;
            // A qualified name (schema.function) is one name.
            while (end < sql.size() && (IsWordChar(sql[end]) || sql[end] == '.'))
                ++end;
            const std::string word = Upper(sql.substr(i, end - i));
            std::size_t next = end;
            while (next < sql.size() && IsBlank(sql[next]))
                ++next;
            const bool call = next < sql.size() && sql[next] == '(';
            if (previous == "AS" && !open.empty() && open.back() == "CAST") {
                if (!Contains(kPortableCastTypes, word))
                    report("CAST AS " + word);
            } else if (call && !Contains(kKeywords, word) &&
                       !Contains(kNameIntroducers, previous) &&
                       !Contains(kPortableSqlFunctions, word)) {
                report(word);
            }
            if (call) {
                open.push_back(Contains(kKeywords, word) ? std::string() : word);
                i = next + 1;
                previous.clear();
            } else {
                i = end;
                previous = word;
            }
        } else {
            if (c == '(')
                open.emplace_back();
            else if (c == ')' && !open.empty())
                open.pop_back();
            if (!IsBlank(c))
                previous.clear();
            ++i;
        }
    }
    return found;
}

bool IsUnsupportedSqlError(unsigned serverError)
{
    switch (serverError) {
    case ER_PARSE_ERROR:
    case ER_SYNTAX_ERROR:
    case ER_SP_DOES_NOT_EXIST:
    case ER_FUNC_INEXISTENT_NAME_COLLISION:
    case ER_FUNCTION_NOT_DEFINED:
    case ER_WRONG_PARAMCOUNT_TO_NATIVE_FCT:
    case ER_WRONG_PARAMETERS_TO_NATIVE_FCT:
    case ER_WRONG_PARAMETERS_TO_STORED_FCT:
    case ER_WRONG_ARGUMENTS:
    case ER_NOT_SUPPORTED_YET:
    case ER_UNKNOWN_CHARACTER_SET:
    case ER_UNKNOWN_COLLATION:
    case ER_COLLATION_CHARSET_MISMATCH:
    case ER_CANT_AGGREGATE_2COLLATIONS:
    case ER_CANT_AGGREGATE_3COLLATIONS:
    case ER_CANT_AGGREGATE_NCOLLATIONS:
        return true;
    default:
        return false;
    }
}

} // namespace mrvn
