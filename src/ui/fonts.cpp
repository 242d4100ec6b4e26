#include "ui/fonts.h"

#include <QApplication>
#include <QStringList>

namespace {

QFont namedFont(const QStringList& families, int pixelSize, bool bold)
{
    QFont font(families.first());
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

QFont yaheiFont(int pixelSize, bool bold)
{
    return namedFont({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("Noto Sans CJK SC")},
                     pixelSize, bold);
}

QFont songtiFont(int pixelSize)
{
    return namedFont(
        {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC")},
        pixelSize, false);
}

QFont defaultFont()
{
    const QFont application = QApplication::font();
    QFont font(application.family());
    if (application.pixelSize() > 0)
        font.setPixelSize(application.pixelSize());
    else
        font.setPointSizeF(application.pointSizeF());
    font.setBold(false);
    return font;
}
