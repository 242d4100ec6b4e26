#pragma once
#include <functional>
#include <string>

// The line form shared by every status log: "[HH:MM:SS] " + message + "\r\n" (local time, 24 h).
std::string statusLine(const std::string& message);

// Puts statusLine(message) in front of the main window's status log, so the newest line is on
// top. Safe from any thread: the line goes to the sink on the GUI thread; does nothing while no
// sink is attached.
void logStatus(const std::string& message);

// Where the status lines are shown: the main window attaches its status box
// (ui/status_log_box.h) once it exists and detaches it (an empty sink) when it goes. GUI thread.
using StatusLogSink = std::function<void(const std::string& line)>;
void setStatusLogSink(StatusLogSink sink);
