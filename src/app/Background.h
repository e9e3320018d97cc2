#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <type_traits>
#include <utility>

namespace mrvn {

// Hands the value of `future` to `done` on `context`'s thread once it is there, always later
// from that thread's event loop (never inside this call), unless `context` is gone by then.
template <typename Value, typename Done>
void DeliverLater(QFuture<Value> future, QObject* context, Done done)
{
    auto sharedDone = std::make_shared<Done>(std::move(done));
    // then() runs its continuation at once, inside this call, when the future has already
    // ended by the time it is attached: the value is handed to the event loop from there.
    // The continuation is bound to the application, which outlives every job, not to
    // `context`: Qt 6.4 stops on an assertion when a continuation's context has gone before
    // its future ends (a page closed while its search runs). `context` is asked after, on its
    // own thread.
    (void)future.then(QCoreApplication::instance(),
                      [context = QPointer<QObject>(context), sharedDone](Value value) {
                          if (!context)
                              return;
                          QMetaObject::invokeMethod(
                              context.data(),
                              [sharedDone, value = std::make_shared<Value>(std::move(value))] {
                                  (*sharedDone)(std::move(*value));
                              },
                              Qt::QueuedConnection);
                      });
}

// Work that needs no database (a catalogue scan, giving memory back) runs on Qt's thread pool
// the way database work runs on the DatabaseWorker: `job()` on a thread of `pool`, then
// `done(value)` on `context`'s thread (see DeliverLater).
template <typename Job, typename Done>
void RunInBackground(QThreadPool* pool, QObject* context, Job job, Done done)
{
    DeliverLater(QtConcurrent::run(pool, std::move(job)), context, std::move(done));
}

template <typename Job, typename Done> void RunInBackground(QObject* context, Job job, Done done)
{
    RunInBackground(QThreadPool::globalInstance(), context, std::move(job), std::move(done));
}

// The pool for config.dat's writes: one thread, so writes happen in the order they were
// asked for (the newest settings last), and never on the window's thread, where a copy of
// the tool holding the file's lock would stall it. The application waits for what is queued
// before it ends.
inline QThreadPool* ConfigWrites()
{
    static QThreadPool* const pool = [] {
        auto* serial = new QThreadPool(QCoreApplication::instance());
        serial->setMaxThreadCount(1);
        return serial;
    }();
    return pool;
}

// The same on `queue`, a pool of one thread whose jobs run one after the other in the order
// they were handed over: changes of one file that must land in the order they were made.
template <typename Job, typename Done>
void RunInBackground(QThreadPool& queue, QObject* context, Job job, Done done)
{
    // Bound to the application for the reason DeliverLater gives.
    using Value = std::invoke_result_t<Job>;
    QFuture<Value> future = QtConcurrent::run(&queue, std::move(job));
    const QPointer<QObject> guard(context);
    if constexpr (std::is_void_v<Value>) {
        (void)future.then(QCoreApplication::instance(), [guard, done = std::move(done)]() mutable {
            if (guard)
                done();
        });
    } else {
        (void)future.then(QCoreApplication::instance(),
                          [guard, done = std::move(done)](Value value) mutable {
                              if (guard)
                                  done(std::move(value));
                          });
    }
}

// The same for work whose end nobody waits for.
template <typename Job> void RunInBackground(Job job)
{
    (void)QtConcurrent::run(std::move(job));
}

} // namespace mrvn
