#include "platform/fonts.h"

#include <QFontDatabase>

namespace qevra::platform {

QString firstInstalled(const QStringList& families)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    return QFont().family();
}

QFont windowFont(int pixelSize)
{
    static const QString family = firstInstalled({ QStringLiteral("MS Sans Serif"),
        QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace qevra::platform
