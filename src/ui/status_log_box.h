#pragma once
// The status log's lines shown in a text box (the main window's 编辑框_状态, the download
// window's two logs).

#include <string>

class QPlainTextEdit;

// Puts a line (in the form of statusLine) on top of box without reading or rewriting the text
// already there, so a long log costs no more per line than a short one. GUI thread.
void prependLogLine(QPlainTextEdit* box, const std::string& line);

// Makes box the status log's sink (null: none). A box that goes away takes no more lines. GUI
// thread.
void setStatusLogBox(QPlainTextEdit* box);
