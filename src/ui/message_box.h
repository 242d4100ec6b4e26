#pragma once
// The program's message box (QMessageBox) with the classic style numbers of app/message_box.h.

#include "app/message_box.h"

#include <string>

class QWidget;

// Shows the message modally (owner may be null) and returns the answer. An empty caption shows
// "信息：". GUI thread.
int showMessageBox(const std::string& text, const std::string& caption, int style, QWidget* owner);

// The MessageBox the layers below are given: owned by the application's active window.
MessageBox programMessageBox();
