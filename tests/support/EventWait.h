#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace mrvn::test {

// Handles the events that are there, or sleeps until the next one arrives, for at most
// `milliseconds`. A loop that waits for a condition calls it between checks: a time limit given
// to processEvents does not make it wait (it returns at once when nothing is pending), and
// such a loop spins a core that the work it waits for needs.
inline void ProcessEventsOrWait(int milliseconds)
{
    QTimer wake; // an event at the latest when the time is up
    wake.setSingleShot(true);
    wake.start(milliseconds);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace mrvn::test
