#pragma once
// Window titles made of outside text (a series name, a page title).

#include <QString>

// Qt takes "[*]" in a window title for the place of the unsaved-changes mark and drops it; a
// doubled "[*][*]" shows as one "[*]". Doubling every one makes the title show exactly as written.
inline QString literalWindowTitle(QString text)
{
    return text.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}
