#pragma once

#include <QString>

namespace qevra {

// The two group entries of the extension box.
inline const QString kPicturesGroup = QStringLiteral("Графика (jpg,jpeg,bmp,gif)");
inline const QString kVideoGroup = QStringLiteral("Видео (avi,mpeg,mpg)");

} // namespace qevra
