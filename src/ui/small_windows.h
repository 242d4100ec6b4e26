#pragma once
// The notice window shown once at start-up and the sponsor window.

#include <QDialog>

#include <string>

class QGroupBox;
class QLabel;
class QTextEdit;

// The notice and release log: lines joined and ended by "\r\n", with groupNumber in the line about
// the user group.
std::string noticeText(const std::string& groupNumber);

// Caption "无视直接×掉", 345 × 432, close button only; Esc does not close it. Start-up shows it
// modally with no owner.
class NoticeWindow : public QDialog {
    Q_OBJECT
public:
    explicit NoticeWindow(QWidget* parent = nullptr);

    QTextEdit* 编辑框1 = nullptr;
    QGroupBox* 分组框1 = nullptr;
    QLabel* 图片框1 = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The fan-group and sponsorship pictures; 422 × 300, always on top, modal over its owner; Esc
// closes it.
class SponsorWindow : public QDialog {
    Q_OBJECT
public:
    explicit SponsorWindow(QWidget* owner = nullptr);

    QLabel* 透明标签1 = nullptr;
    QLabel* 图片框1 = nullptr;
    QLabel* 透明标签2 = nullptr;
    QLabel* 图片框2 = nullptr;
};

// Opens SponsorWindow modally over owner and returns when it is closed. GUI thread.
void openSponsorWindow(QWidget* owner);
