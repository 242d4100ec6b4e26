#include "app/status_log.h"

#include "util/gui_call.h"

#include <QTime>

namespace {
// Written and read on the GUI thread only.
StatusLogSink g_sink;
} // namespace

std::string statusLine(const std::string& message)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    return "[" + time.toStdString() + "] " + message + "\r\n";
}

void logStatus(const std::string& message)
{
    const std::string line = statusLine(message);
    gui::post(QCoreApplication::instance(), [line] {
        if (g_sink)
            g_sink(line);
    });
}

void setStatusLogSink(StatusLogSink sink)
{
    gui::assertGuiThread();
    g_sink = std::move(sink);
}
