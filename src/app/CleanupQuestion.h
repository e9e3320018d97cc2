#pragma once

#include "app/Dialogs.h"

#include <QString>

namespace mrvn {

struct CleanupPreview;

// The question asked before a cleanup deletes anything: the tables with rows to delete
// and their counts (the first few; the rest summed up), how many tables have nothing to
// delete, the tables whose statement would fail, and the total. The full list, table by
// table, goes into the details. Yes and No, No the default.
MessageRequest CleanupQuestion(const CleanupPreview& preview);

// What is said instead of the question when no counted table has a row to delete: that
// there is nothing to delete (and which tables could not be counted). An Ok box.
MessageRequest CleanupNothingMessage(const CleanupPreview& preview);

} // namespace mrvn
