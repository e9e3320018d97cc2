#include "app/DatabaseWorker.h"

#include "app/Background.h"

#include <QDeadlineTimer>
#include <QMetaObject>

namespace mrvn {

namespace {
// A statement that has had no answer for this long is on a server that may not answer: the
// window's close does not wait for the answer to a KILL QUERY then.
constexpr std::int64_t kKillWorthTryingMs = 3000;
// The longest the close waits for a stopped statement's answer.
constexpr int kCloseWaitMs = 200;

// Stops the statement of connection `id` from a pool thread: the window never waits for the
// second connection, whose connect may take its whole time-out on a server that does not
// answer.
void KillInBackground(const ConnectParams& params, unsigned long id)
{
    if (id != 0)
        RunInBackground([params, id] { KillQuery(params, id); });
}
} // namespace

DatabaseWorker::DatabaseWorker(const ConnectOptions& options,
                               DbConnection::StatementObserver observer, QObject* parent)
    : QObject(parent), m_runner(new QObject)
{
    setObjectName(QStringLiteral("数据库线程"));
    m_db.SetConnectOptions(options);
    m_db.SetStatementObserver(std::move(observer));
    m_runner->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("database"));
    m_thread.start();
}

DatabaseWorker::~DatabaseWorker()
{
    m_cancel.store(true);
    // The server carries out a statement to its end even when the client is gone: it is asked
    // to stop it, and a server that still answers says so within moments, so what the job
    // records is what was done. The close waits for that only briefly, then breaks the
    // connection's socket (or the connect in progress).
    const std::int64_t waiting = m_db.WaitingMs();
    if (waiting > 0) {
        KillInBackground(m_db.Params(), m_db.ConnectionId());
        if (waiting < kKillWorthTryingMs) {
            const QDeadlineTimer deadline(kCloseWaitMs);
            while (m_db.WaitingMs() > 0 && !deadline.hasExpired())
                QThread::msleep(5);
        }
    }
    m_db.Abort();
    m_thread.quit();
    m_thread.wait();
    delete m_runner;
    m_db.Close();
}

void DatabaseWorker::Post(std::function<void(DbConnection&, unsigned generation)> job)
{
    if (m_pending++ == 0) {
        m_cancel.store(false);
        emit BusyChanged(true);
    }
    QMetaObject::invokeMethod(
        m_runner,
        [this, job = std::move(job), generation = m_generation.load()] {
            // Work of a zone the window has left is not started on the next one's road.
            if (generation != m_generation.load())
                Deliver(generation, {});
            else
                job(m_db, generation);
        },
        Qt::QueuedConnection);
}

void DatabaseWorker::Deliver(unsigned generation, std::function<void()> handler)
{
    // Runs on the database thread, right after the job.
    const bool lost = m_db.ConnectionLost();
    const bool answered = m_db.IsOpen() && !lost;
    // The value of abandoned work (a whole role list, say) is freed here rather than on the
    // window's thread.
    if (generation != m_generation.load())
        handler = {};
    QMetaObject::invokeMethod(
        this,
        [this, generation, handler = std::move(handler), answered, lost]() mutable {
            if (generation == m_generation.load()) {
                emit ServerHeard(answered, lost);
                handler();
            } else if (handler) {
                QMetaObject::invokeMethod(
                    m_runner, [dropped = std::move(handler)] {}, Qt::QueuedConnection);
            }
            if (--m_pending == 0)
                emit BusyChanged(false);
        },
        Qt::QueuedConnection);
}

void DatabaseWorker::PostToWindow(const QPointer<QObject>& context, std::function<void()> handler)
{
    QMetaObject::invokeMethod(
        this,
        [context, handler = std::move(handler)] {
            if (context)
                handler();
        },
        Qt::QueuedConnection);
}

void DatabaseWorker::AbandonWork()
{
    ++m_generation;
    // Only a job of the earlier work can be running: its connection goes with it.
    if (m_pending > 0)
        m_db.Abort();
}

void DatabaseWorker::Cancel()
{
    if (m_pending == 0)
        return;
    m_cancel.store(true);
    if (m_db.WaitingMs() <= 0)
        return;
    // A statement that has waited long is asked to stop too: a slow server (a locked table)
    // still takes the KILL. The id is that of the connection running the statement (0 while a
    // lost connection is being made again: nothing runs then).
    KillInBackground(m_db.Params(), m_db.ConnectionId());
}

void DatabaseWorker::AbortWaiting()
{
    if (m_pending == 0)
        return;
    m_cancel.store(true);
    m_db.Abort();
}

} // namespace mrvn
