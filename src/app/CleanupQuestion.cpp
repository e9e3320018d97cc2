#include "app/CleanupQuestion.h"

#include "app/Texts.h"
#include "cleanup/TableCleanup.h"

#include <QStringList>

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

// The tables whose statement cannot run, the first few by name.
QString FailingLine(const QStringList& failing)
{
    QString names =
        QStringList(failing.mid(0, kListedFailures)).join(Text(kCleanupQuestionNameSeparator));
    if (failing.size() > kListedFailures)
        names += Text(kCleanupQuestionMoreFailing).arg(failing.size());
    return Text(kCleanupQuestionFailing).arg(names);
}

} // namespace

MessageRequest CleanupQuestion(const CleanupPreview& preview)
{
    QStringList text;
    QStringList details;
    QStringList failing;
    int listed = 0;
    std::size_t unlisted = 0;
    std::int64_t unlistedRows = 0;
    for (const CleanupPreview::Table& table : preview.tables) {
        if (!table.rows) {
            details << Text(kCleanupQuestionFails).arg(Name(table));
            failing << Name(table);
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
    if (!failing.isEmpty())
        lines << FailingLine(failing);
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
    QStringList failing;
    QStringList details;
    for (const CleanupPreview::Table& table : preview.tables) {
        if (table.rows) {
            details << RowsLine(table);
        } else {
            details << Text(kCleanupQuestionFails).arg(Name(table));
            failing << Name(table);
        }
    }
    if (!failing.isEmpty())
        lines << FailingLine(failing);
    MessageRequest request;
    request.text = lines.join(QLatin1Char('\n'));
    request.title = Text(kMessageTitle);
    request.icon = MessageIcon::Information;
    request.buttons = MessageButtons::Ok;
    request.details = details.join(QLatin1Char('\n'));
    return request;
}

} // namespace mrvn
