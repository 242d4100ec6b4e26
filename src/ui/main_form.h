#pragma once
// The components of the main window. MainWindow (ui/main_window.h) creates the widgets and fills
// this record; the layers below see the window only through its views (MainWindowViews).

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QTreeWidget;
class QWidget;

struct MainForm {
    QWidget* window = nullptr;

    // Header strip and seconds bar.
    QLabel* 标签_时间 = nullptr;
    QLabel* 标签_星期 = nullptr;
    QLabel* 标签_日期 = nullptr;
    QPushButton* 图形按钮_历史 = nullptr;
    QLabel* 标签_历史 = nullptr;
    QPushButton* 图形按钮_关于 = nullptr;
    QLabel* 标签_关于 = nullptr;
    QFrame* 外形框_进度 = nullptr;
    QLabel* 进度条 = nullptr;

    // Categories, title and blurb, episodes.
    QFrame* 外形框_分类 = nullptr;
    QTreeWidget* 超级列表框_分类 = nullptr;
    QLabel* 透明标签_标题 = nullptr;
    QLabel* 透明标签_简介 = nullptr;
    QFrame* 外形框_集 = nullptr;
    QTableWidget* 高级表格_剧集 = nullptr;

    // Search, cover, download button and the series list.
    QFrame* 外形框_列表 = nullptr;
    QLineEdit* 编辑框_搜索 = nullptr;
    QPushButton* 超级按钮_搜索 = nullptr;
    QLabel* 图片框_封面 = nullptr;
    QPushButton* 超级按钮_下载 = nullptr;
    QTreeWidget* 超级列表框_列表 = nullptr;
    QLabel* 标签提示 = nullptr;

    // Paging row and route box.
    QPushButton* 按钮_首页 = nullptr;
    QPushButton* 按钮_上一页 = nullptr;
    QLineEdit* 标签_当前 = nullptr;
    QLabel* 标签_页数 = nullptr;
    QPushButton* 按钮_下一页 = nullptr;
    QPushButton* 按钮_尾页 = nullptr;
    QLabel* 标签_共有记录数 = nullptr;
    QLabel* 标签2 = nullptr;
    QLabel* 标签1 = nullptr;
    QComboBox* 组合框_线路 = nullptr;

    // Status log and the 2-second timer.
    QPlainTextEdit* 编辑框_状态 = nullptr;
    QTimer* 时钟_实时 = nullptr;
};
