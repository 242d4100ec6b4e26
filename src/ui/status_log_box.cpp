#include "ui/status_log_box.h"

#include "app/status_log.h"
#include "util/gui_thread.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>

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
    if (box == nullptr) {
        setStatusLogSink({});
        return;
    }
    setStatusLogSink([target = QPointer<QPlainTextEdit>(box)](const std::string& line) {
        if (target)
            prependLogLine(target, line);
    });
}
