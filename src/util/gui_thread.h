#pragma once
// The GUI-thread contract of the functions whose comments say "GUI thread": the check that the
// caller keeps it. Active where Q_ASSERT is (Debug builds, the sanitizer build among them); a
// no-op in release builds.

#include <QCoreApplication>
#include <QThread>

namespace gui {

// True on the thread of the application object, and everywhere while none exists (tests of parts
// that need no event loop).
inline bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

// Aborts a Debug build when called off the GUI thread.
inline void assertGuiThread()
{
    Q_ASSERT_X(onGuiThread(), "gui::assertGuiThread", "called off the GUI thread");
}

} // namespace gui
