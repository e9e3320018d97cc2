#pragma once

#include "db/DbConnection.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace mrvn {

// What became of a piece of database work, as the window words it.
enum class DbOutcome {
    Done,
    Failed,    // the server refused, with its reason
    Cancelled, // the operator stopped it; nothing after the stop was done
    Unknown,   // the answer was lost and could not be checked
};

// What the status label says about the server.
enum class LinkState {
    NotConnected,
    Connected,
    Unresponsive, // a statement has had no answer for a while
    Disconnected,
    Connecting, // a connect, pressed or made by a refresh tick, is under way
};

// The server's error of a statement, carried back to the window with a result.
struct DbError
{
    unsigned number = 0;
    std::string text;
    static DbError Of(const DbConnection& db) { return {db.LastError(), db.LastErrorText()}; }
};

// The tool's one database thread. It owns the one connection and runs every statement of the
// window on its own thread, one job after the other; the window hands it a job and gets the
// job's value back on the window's thread. The logic keeps its plain functions on
// DbConnection&: a job calls them.
// - Busy() holds from the moment a job is handed over until its value has been handled,
//   so work started from a value's handler keeps the road busy without a gap.
// - Cancel() asks the work running now to stop: jobs look at the stop flag between
//   statements, and the statement running now is stopped with KILL QUERY over a second,
//   short-lived connection.
// - The destructor stops the statement running now, breaks the connection's socket, and
//   joins the thread: it never waits for a server that does not answer.
// - Work is handed over for the zone connected at the time; AbandonWork() (a switch of zones)
//   ends that: nothing of the earlier work reaches the window any more.
class DatabaseWorker : public QObject
{
    Q_OBJECT
public:
    DatabaseWorker(const ConnectOptions& options, DbConnection::StatementObserver observer,
                   QObject* parent = nullptr);
    ~DatabaseWorker() override;

    // Runs `job(DbConnection&)` on the database thread; `done(value)` runs on the window's
    // thread afterwards, unless `context` is gone by then.
    template <typename Job, typename Done> void Run(QObject* context, Job job, Done done)
    {
        using Value = std::invoke_result_t<Job&, DbConnection&>;
        auto sharedJob = std::make_shared<Job>(std::move(job));
        auto sharedDone = std::make_shared<Done>(std::move(done));
        QPointer<QObject> guard(context);
        Post([this, sharedJob, sharedDone, guard](DbConnection& db, unsigned generation) {
            auto value = std::make_shared<Value>((*sharedJob)(db));
            Deliver(generation, [sharedDone, guard, value] {
                if (guard)
                    (*sharedDone)(std::move(*value));
            });
        });
    }

    // From a job: runs `handler` on the window's thread, unless `context` is gone by then
    // (take the QPointer on the window's thread, when the job is handed over).
    void PostToWindow(const QPointer<QObject>& context, std::function<void()> handler);

    bool Busy() const { return m_pending > 0; }
    // True once Cancel was called for the work running now (any thread).
    bool CancelRequested() const { return m_cancel.load(); }
    const std::atomic<bool>& CancelFlag() const { return m_cancel; }
    void Cancel();
    // Breaks off a statement that waits for a server that does not answer (the operator
    // reconnects by hand): the connection refuses statements until the next Connect.
    void AbortWaiting();
    // The parameters of the last successful connect (any thread).
    ConnectParams Params() const { return m_db.Params(); }
    // Drops the work handed over so far, for a switch of zones: a job that has not started
    // is skipped, the statement running now is broken off (the connection then refuses
    // statements until the next Connect), and no value or ServerHeard of that work reaches
    // the window. Busy() still holds until the skipped and broken-off jobs are over.
    void AbandonWork();
    // How long the statement in progress has waited, in milliseconds (0: none waits).
    std::int64_t WaitingMs() const { return m_db.WaitingMs(); }

signals:
    void BusyChanged(bool busy);
    // After every job: whether the server answered its last statement (connected), could
    // not be reached (lost), or neither was learnt (no connection was open).
    void ServerHeard(bool answered, bool lost);

private:
    void Post(std::function<void(DbConnection&, unsigned generation)> job);
    // From the database thread, after a job of `generation`.
    void Deliver(unsigned generation, std::function<void()> handler);

    DbConnection m_db;
    QThread m_thread;
    QObject* m_runner;
    int m_pending = 0;
    std::atomic<bool> m_cancel{false};
    // Counts the switches of zones: work carries the count of its hand-over.
    std::atomic<unsigned> m_generation{0};
};

} // namespace mrvn
