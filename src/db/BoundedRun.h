#pragma once

#include "db/DbConnection.h"
#include "db/RoleList.h"
#include "db/SqlPortability.h"

#include <string>

namespace mrvn::rolequery {

// How a bounded statement went.
enum class Outcome { Done, Unsupported, Lost };

class BoundedRun
{
public:
    BoundedRun(DbConnection& db, const RoleListOptions& options) : m_db(db), m_options(options) {}

    RowSet Select(std::string sql)
    {
        // Once the server is out of reach, each further statement would only wait for another
        // reconnect attempt.
        if (m_outcome == Outcome::Lost)
            return {};
        if (m_options.rewriteBounded)
            sql = m_options.rewriteBounded(std::move(sql));
        if (m_db.ExecSql(sql))
            return m_db.StoreResult();
        Failed();
        return {};
    }

    // The same for a statement the server may refuse without the list's answer being lost
    // (the caller has another way to ask): only a lost server counts.
    RowSet TrySelect(const std::string& sql)
    {
        if (m_outcome == Outcome::Lost)
            return {};
        const std::string text = m_options.rewriteBounded ? m_options.rewriteBounded(sql) : sql;
        if (m_db.ExecSql(text))
            return m_db.StoreResult();
        if (m_db.ConnectionLost())
            m_outcome = Outcome::Lost;
        return {};
    }

    // The same statement's answer read as it arrives; StreamFailed tells, once the stream
    // has ended, whether it ended early.
    RowStream Stream(std::string sql)
    {
        if (m_outcome == Outcome::Lost)
            return {};
        if (m_options.rewriteBounded)
            sql = m_options.rewriteBounded(std::move(sql));
        if (m_db.ExecSql(sql)) {
            RowStream stream = m_db.UseResult();
            if (stream.Valid())
                return stream;
        }
        Failed();
        return {};
    }

    bool StreamFailed()
    {
        if (m_db.LastError() == 0)
            return false;
        Failed();
        return true;
    }

    bool Unsupported() const { return m_outcome == Outcome::Unsupported; }
    bool Lost() const { return m_outcome == Outcome::Lost; }
    // The answer cannot be given exactly, though the server took every statement.
    void CannotBeExact() { m_notExact = true; }
    bool NotExact() const { return m_notExact; }

private:
    void Failed()
    {
        if (IsUnsupportedSqlError(m_db.LastError()))
            m_outcome = Outcome::Unsupported;
        else if (m_db.ConnectionLost())
            m_outcome = Outcome::Lost;
    }

    DbConnection& m_db;
    const RoleListOptions& m_options;
    Outcome m_outcome = Outcome::Done;
    bool m_notExact = false;
};

} // namespace mrvn::rolequery
