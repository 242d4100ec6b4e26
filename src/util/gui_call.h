#pragma once
// The one way code off the GUI thread touches window components: writes are queued to the GUI
// thread, reads wait for the GUI thread's answer. On the GUI thread both run the call directly.

#include "util/gui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <future>
#include <type_traits>
#include <utility>

namespace gui {

// Runs fn on the GUI thread without waiting for it (direct when already there), on behalf of
// context: a call still queued when context is destroyed is dropped, as is one whose context is
// null or already gone. Pass the object fn works on (a window), or the application object for a
// call that outlives every window.
template <class F>
void post(QObject* context, F&& fn)
{
    if (context == nullptr)
        return;
    if (onGuiThread()) {
        std::forward<F>(fn)();
        return;
    }
    QMetaObject::invokeMethod(context, std::forward<F>(fn), Qt::QueuedConnection);
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
