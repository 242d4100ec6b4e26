#pragma once
// The components of the player window, as the playback handlers see them. PlayerWindow
// (ui/player_window.h) creates the widgets and fills this record. GUI thread only.

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

struct PlayerForm {
    QWidget* window = nullptr;

    QFrame* 外形框_播放 = nullptr; // the browser is created in it
    QFrame* 外形框_底部 = nullptr; // the bottom bar holding everything below
    QLabel* 标签_剧集 = nullptr;
    QLabel* 标签_片头 = nullptr;      // caption of 编辑框_片头
    QLineEdit* 编辑框_片头 = nullptr; // the opening skipped at a start, in seconds
    QLineEdit* 编辑框_尾 = nullptr;
    QCheckBox* 选择框_连播 = nullptr;
    QLabel* 标签_跳转 = nullptr;
    QCheckBox* 选择框_置顶 = nullptr;
    QCheckBox* 选择框_副屏 = nullptr;
    QPushButton* 按钮_重新加载 = nullptr;
    QPushButton* 按钮_缓存 = nullptr;
    QPushButton* 按钮_05X = nullptr;
    QPushButton* 按钮_075X = nullptr;
    QPushButton* 按钮_1X = nullptr;
    QPushButton* 按钮_125X = nullptr;
    QPushButton* 按钮_15X = nullptr;
    QPushButton* 按钮_2X = nullptr;
    QPushButton* 按钮_全屏 = nullptr;
};
