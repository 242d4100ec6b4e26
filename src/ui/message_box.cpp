#include "ui/message_box.h"

#include "util/gui_thread.h"
#include "util/window_title.h"

#include <QApplication>
#include <QMessageBox>

int showMessageBox(const std::string& text, const std::string& caption, int style, QWidget* owner)
{
    gui::assertGuiThread();
    QMessageBox box(owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowTitle(literalWindowTitle(
        QString::fromStdString(caption.empty() ? std::string("信息：") : caption)));
    // Texts may carry outside names (a series, a page): shown as written, never as markup. The
    // texts separate lines with "\r\n".
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (style & 0xF0) {
    case 0x10: box.setIcon(QMessageBox::Critical); break;
    case 0x20: box.setIcon(QMessageBox::Question); break;
    case 0x30: box.setIcon(QMessageBox::Warning); break;
    case 0x40: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (style & 0x0F) {
    case 1: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case 3: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case 4: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return 2;
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    default: return kAnswerOk;
    }
}

MessageBox programMessageBox()
{
    return [](const std::string& text, const std::string& caption, int style) {
        return showMessageBox(text, caption, style, QApplication::activeWindow());
    };
}
