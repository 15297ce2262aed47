#include "base/preview_kind.h"

#include "base/extension_groups.h"

namespace qevra {

std::optional<PreviewKind> previewKindFor(const QString& text)
{
    if (text == u"jpg" || text == u"jpeg" || text == u"bmp" || text == kPicturesGroup
        || text == u"gif")
        return PreviewKind::Pictures;
    if (text == u"mp3" || text == u"wav" || text == u"avi" || text == kVideoGroup || text == u"mid")
        return PreviewKind::Media;
    return std::nullopt;
}

QString previewKindText(PreviewKind kind)
{
    return kind == PreviewKind::Pictures ? QStringLiteral("graf") : QStringLiteral("mus");
}

std::optional<PreviewKind> previewKindOf(const QString& text)
{
    if (text == u"graf")
        return PreviewKind::Pictures;
    if (text == u"mus")
        return PreviewKind::Media;
    return std::nullopt;
}

} // namespace qevra
