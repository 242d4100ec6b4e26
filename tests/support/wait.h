#pragma once
// Waiting in a test for something the program does on its own time: the event loop keeps running
// (queued window writes, timers, sockets) until the condition holds or the time is up.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Runs events until done() holds (true) or milliseconds have passed (done() as it is then).
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
