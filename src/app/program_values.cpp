#include "app/program_values.h"

#include <mutex>

namespace {
// The bootstrap thread, history save threads and the GUI thread all use it.
std::mutex g_historyMutex;
std::string g_historyText;
} // namespace

std::string historyText()
{
    std::lock_guard lock(g_historyMutex);
    return g_historyText;
}

void setHistoryText(const std::string& text)
{
    std::lock_guard lock(g_historyMutex);
    g_historyText = text;
}
