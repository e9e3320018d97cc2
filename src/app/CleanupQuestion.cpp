#include "app/CleanupQuestion.h"

#include "cleanup/TableCleanup.h"

#include <QStringList>

namespace mrvn {

namespace {

// A message box grows with its text; beyond this many lines it no longer fits a screen.
constexpr int kListedTables = 12;
constexpr int kListedFailures = 6;

QString Name(const CleanupPreview::Table& table)
{
    return QString::fromStdString(table.name);
}

QString RowsLine(const CleanupPreview::Table& table)
{
    return QStringLiteral("%1：%2 行").arg(Name(table)).arg(*table.rows);
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
            details << QStringLiteral("%1：语句无法执行").arg(Name(table));
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
    lines << QStringLiteral("以下数据表的数据将被删除，且无法恢复！");
    lines << text;
    if (unlisted > 0) {
        lines << QStringLiteral("另有 %1 张表共 %2 行（详见详细信息）。")
                     .arg(unlisted)
                     .arg(unlistedRows);
    }
    if (listed == 0)
        lines << QStringLiteral("没有可删除的数据。");
    if (preview.empty > 0)
        lines << QStringLiteral("另有 %1 张表没有可删除的数据。").arg(preview.empty);
    if (!failing.isEmpty()) {
        QString names = QStringList(failing.mid(0, kListedFailures)).join(QStringLiteral("、"));
        if (failing.size() > kListedFailures)
            names += QStringLiteral(" 等 %1 张表").arg(failing.size());
        lines << QStringLiteral("语句无法执行，不会删除：%1。").arg(names);
    }
    lines << QStringLiteral("共计删除 %1 行，是否继续？").arg(preview.total);

    MessageRequest request;
    request.text = lines.join(QLatin1Char('\n'));
    request.title = QString::fromUtf8(kCleanupQuestionTitle);
    request.icon = MessageIcon::Question;
    request.buttons = MessageButtons::YesNoDefaultNo;
    request.details = details.join(QLatin1Char('\n'));
    return request;
}

} // namespace mrvn
