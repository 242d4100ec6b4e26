#pragma once
// The one way code off the GUI thread touches window components: writes are queued to the GUI
// thread, reads wait for the GUI thread's answer. On the GUI thread both run the call directly.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <future>
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
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(fn),
                              Qt::QueuedConnection);
}

// Runs fn on the GUI thread and returns its result; the calling worker waits for it. The wait is
// a promise rather than a blocking queued connection, so thread checkers see the hand-over.
template <class F>
auto call(F&& fn) -> std::invoke_result_t<F>
{
    using R = std::invoke_result_t<F>;
    if (onGuiThread())
        return std::forward<F>(fn)();
    std::promise<R> done;
    std::future<R> result = done.get_future();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            if constexpr (std::is_void_v<R>) {
                fn();
                done.set_value();
            } else {
                done.set_value(fn());
            }
        },
        Qt::QueuedConnection);
    return result.get();
}

} // namespace gui
