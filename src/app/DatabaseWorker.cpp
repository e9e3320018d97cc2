#include "app/DatabaseWorker.h"

#include <QMetaObject>
#include <QThreadPool>

namespace mrvn {

namespace {
// A statement that has had no answer for this long is on a server that may not answer: the
// window's close does not wait for a KILL QUERY over a second connection then.
constexpr std::int64_t kKillWorthTryingMs = 3000;
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
    // The server carries out a statement to its end even when the client is gone: a server
    // that still answers is asked to stop it, so what the job records is what was done.
    const std::int64_t waiting = m_db.WaitingMs();
    if (waiting > 0 && waiting < kKillWorthTryingMs &&
        KillQuery(m_db.Params(), m_db.ConnectionId())) {
        // The stopped statement's answer is on its way: taken, it tells the job what was done.
        for (int i = 0; i < 100 && m_db.WaitingMs() > 0; ++i)
            QThread::msleep(10);
    }
    m_db.Abort();
    m_thread.quit();
    m_thread.wait();
    delete m_runner;
    m_db.Close();
}

void DatabaseWorker::Post(std::function<void(DbConnection&)> job)
{
    if (m_pending++ == 0) {
        m_cancel.store(false);
        emit BusyChanged(true);
    }
    QMetaObject::invokeMethod(
        m_runner, [this, job = std::move(job)] { job(m_db); }, Qt::QueuedConnection);
}

void DatabaseWorker::Deliver(std::function<void()> handler)
{
    // Runs on the database thread, right after the job.
    const bool lost = m_db.ConnectionLost();
    const bool answered = m_db.IsOpen() && !lost;
    QMetaObject::invokeMethod(
        this,
        [this, handler = std::move(handler), answered, lost] {
            emit ServerHeard(answered, lost);
            handler();
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

void DatabaseWorker::Cancel()
{
    if (m_pending == 0)
        return;
    m_cancel.store(true);
    if (m_db.WaitingMs() <= 0)
        return;
    // The window never waits for the second connection, so a statement that has waited long
    // is asked to stop too: a slow server (a locked table) still takes the KILL.
    QThreadPool::globalInstance()->start(
        [params = m_db.Params(), id = m_db.ConnectionId()] { KillQuery(params, id); });
}

void DatabaseWorker::AbortWaiting()
{
    if (m_pending == 0)
        return;
    m_cancel.store(true);
    m_db.Abort();
}

} // namespace mrvn
