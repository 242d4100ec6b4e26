#pragma once
// The one way code off the GUI thread touches window components: writes are queued to the GUI
// thread, reads wait for the GUI thread's answer. On the GUI thread both run the call directly.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <type_traits>
#include <utility>

namespace gui {

inline bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

// Runs fn on the GUI thread without waiting for it (direct when already there).
template <class F>
void post(F&& fn)
{
    if (onGuiThread()) {
        std::forward<F>(fn)();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(fn), Qt::QueuedConnection);
}

// Runs fn on the GUI thread and returns its result; the calling worker waits for it.
template <class F>
auto call(F&& fn) -> std::invoke_result_t<F>
{
    using R = std::invoke_result_t<F>;
    if (onGuiThread())
        return std::forward<F>(fn)();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(fn),
                                  Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

} // namespace gui
