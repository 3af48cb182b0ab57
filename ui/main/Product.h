#pragma once

#include <QString>

namespace pixquill {

// The names and addresses the windows show and open.
inline const QString kProductTitle = QStringLiteral("Pixquill");
inline const QString kMakerName = QStringLiteral("Zorvex");
inline const QString kMakerWebSite = QStringLiteral("https://zorvex.example/");
inline const QString kAboutWebSite = QStringLiteral("https://zorvex.example/1");
inline const QString kImageLibraryWebSite = QStringLiteral("https://freeimage.sourceforge.io");

} // namespace pixquill
