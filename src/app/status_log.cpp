#include "app/status_log.h"

#include "util/gui_call.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>

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
    gui::post(QCoreApplication::instance(), [line] {
        if (!g_statusBox)
            return;
        prependLogLine(g_statusBox, line);
    });
}

void prependLogLine(QPlainTextEdit* box, const std::string& line)
{
    gui::assertGuiThread();
    // The box keeps one paragraph per line; the "\r\n" of the line form becomes its break.
    QString text = QString::fromStdString(line);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(text);
}

void setStatusLogBox(QPlainTextEdit* box)
{
    gui::assertGuiThread();
    g_statusBox = box;
}
