#include "app/CleanupQuestion.h"

#include "app/Texts.h"
#include "cleanup/TableCleanup.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace mrvn {

namespace {

// A message box grows with its text; beyond this many lines it no longer fits a screen.
constexpr int kListedTables = 12;
constexpr int kListedFailures = 6;

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString Name(const CleanupPreview::Table& table)
{
    return QString::fromStdString(table.name);
}

QString RowsLine(const CleanupPreview::Table& table)
{
    return Text(kCleanupQuestionRows).arg(Name(table)).arg(*table.rows);
}

// The tables left alone, grouped by their reason (in the order the reasons first appear),
// the first few of each by name.
class SkippedTables
{
public:
    void Add(const CleanupPreview::Table& table)
    {
        const QString reason = CleanupSkipReason(table.failure);
        auto at = std::find_if(m_groups.begin(), m_groups.end(),
                               [&](const Group& group) { return group.reason == reason; });
        if (at == m_groups.end())
            at = m_groups.insert(m_groups.end(), Group{reason, {}});
        at->names << Name(table);
    }
    QStringList Lines() const
    {
        QStringList lines;
        for (const Group& group : m_groups) {
            QString names = QStringList(group.names.mid(0, kListedFailures))
                                .join(Text(kCleanupQuestionNameSeparator));
            if (group.names.size() > kListedFailures)
                names += Text(kCleanupQuestionMoreFailing).arg(group.names.size());
            lines << Text(kCleanupQuestionSkippedGroup).arg(group.reason, names);
        }
        return lines;
    }

private:
    struct Group
    {
        QString reason;
        QStringList names;
    };
    std::vector<Group> m_groups;
};

QString SkippedLine(const CleanupPreview::Table& table)
{
    return Text(kCleanupQuestionSkipped).arg(Name(table), CleanupSkipReason(table.failure));
}

} // namespace

QString CleanupSkipReason(const CountFailure& failure)
{
    if (failure.noTimeColumn)
        return Text(kCleanupNoTimeColumnResult);
    return Text(kCleanupNotCountedResult).arg(failure.errorNumber);
}

MessageRequest CleanupQuestion(const CleanupPreview& preview)
{
    QStringList text;
    QStringList details;
    SkippedTables skipped;
    int listed = 0;
    std::size_t unlisted = 0;
    std::int64_t unlistedRows = 0;
    for (const CleanupPreview::Table& table : preview.tables) {
        if (!table.rows) {
            details << SkippedLine(table);
            skipped.Add(table);
            continue;
        }
        details << RowsLine(table);
        if (*table.rows == 0)
            continue;
        if (listed < kListedTables) {
            text << RowsLine(table);
            ++listed;
        } else {
            ++unlisted;
            unlistedRows += *table.rows;
        }
    }

    QStringList lines;
    lines << Text(kCleanupQuestionHead);
    lines << text;
    if (unlisted > 0) {
        lines << Text(kCleanupQuestionUnlisted).arg(unlisted).arg(unlistedRows);
    }
    if (listed == 0)
        lines << Text(kCleanupQuestionNothing);
    if (preview.empty > 0)
        lines << Text(kCleanupQuestionEmpty).arg(preview.empty);
    lines << skipped.Lines();
    lines << Text(kCleanupQuestionTotal).arg(preview.total);

    MessageRequest request;
    request.text = lines.join(QLatin1Char('\n'));
    request.title = Text(kDeleteConfirmTitle);
    request.icon = MessageIcon::Question;
    request.buttons = MessageButtons::YesNoDefaultNo;
    request.details = details.join(QLatin1Char('\n'));
    return request;
}

MessageRequest CleanupNothingMessage(const CleanupPreview& preview)
{
    QStringList lines{Text(kCleanupQuestionNothing)};
    SkippedTables skipped;
    QStringList details;
    for (const CleanupPreview::Table& table : preview.tables) {
        if (table.rows) {
            details << RowsLine(table);
        } else {
            details << SkippedLine(table);
            skipped.Add(table);
        }
    }
    lines << skipped.Lines();
    MessageRequest request;
    request.text = lines.join(QLatin1Char('\n'));
    request.title = Text(kMessageTitle);
    request.icon = MessageIcon::Information;
    request.buttons = MessageButtons::Ok;
    request.details = details.join(QLatin1Char('\n'));
    return request;
}

} // namespace mrvn
