#pragma once

#include <QFuture>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace mrvn {

// Work that needs no database (a catalogue scan, giving memory back) runs on Qt's thread pool
// the way database work runs on the DatabaseWorker: `job()` on a pool thread, then
// `done(value)` on `context`'s thread, unless `context` is gone by then.
template <typename Job, typename Done> void RunInBackground(QObject* context, Job job, Done done)
{
    (void)QtConcurrent::run(std::move(job)).then(context, std::move(done));
}

// The same for work whose end nobody waits for.
template <typename Job> void RunInBackground(Job job)
{
    (void)QtConcurrent::run(std::move(job));
}

} // namespace mrvn
