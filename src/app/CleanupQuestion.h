#pragma once

#include "app/Dialogs.h"

#include <QString>

namespace mrvn {

struct CleanupPreview;
struct CountFailure;

// Why a table is left alone, as its result cell and the question both say it:
// "无 log_update_time 列，跳过" or "无法统计（错误号 N），未删除".
QString CleanupSkipReason(const CountFailure& failure);

// The question asked before a cleanup deletes anything: the tables with rows to delete
// and their counts (the first few; the rest summed up), how many tables have nothing to
// delete, the tables left alone with their reason, and the total. The full list, table by
// table, goes into the details. Yes and No, No the default.
MessageRequest CleanupQuestion(const CleanupPreview& preview);

// What is said instead of the question when no counted table has a row to delete: that
// there is nothing to delete (and which tables are left alone, and why). An Ok box.
MessageRequest CleanupNothingMessage(const CleanupPreview& preview);

} // namespace mrvn
