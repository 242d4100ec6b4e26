#pragma once
#include <string>

class QPlainTextEdit;

// The line form shared by every status log: "[HH:MM:SS] " + message + "\r\n" (local time, 24 h).
std::string statusLine(const std::string& message);

// Puts statusLine(message) in front of the main window's status box, so the newest line is on top.
// Safe from any thread; does nothing before setStatusLogBox has been called.
void logStatus(const std::string& message);

// Puts a line (in the form of statusLine) on top of box without reading or rewriting the text
// already there, so a long log costs no more per line than a short one. GUI thread.
void prependLogLine(QPlainTextEdit* box, const std::string& line);

// The main window hands over its status box once it exists (GUI thread).
void setStatusLogBox(QPlainTextEdit* box);
