#include "app/status_log.h"

#include "util/gui_call.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QPointer>

namespace {
// Written and read on the GUI thread only.
QPointer<QPlainTextEdit> g_statusBox;
} // namespace

std::string statusLine(const std::string& message)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    return "[" + time.toStdString() + "] " + message + "\r\n";
}

void logStatus(const std::string& message)
{
    const std::string line = statusLine(message);
    gui::post([line] {
        if (!g_statusBox)
            return;
        // The box shows line breaks as "\n"; the "\r\n" of the line form is kept in its text.
        g_statusBox->setPlainText(QString::fromStdString(line) + g_statusBox->toPlainText());
    });
}

void setStatusLogBox(QPlainTextEdit* box)
{
    g_statusBox = box;
}
