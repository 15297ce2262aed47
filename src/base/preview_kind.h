#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace qevra {

// What the copies editor's preview panel offers for a search's files.
enum class PreviewKind : std::uint8_t {
    Pictures, // two pictures side by side
    Media, // play and stop for each file
};

// The preview kind an extension text asks for: pictures for "jpg", "jpeg",
// "bmp", "gif" and the pictures group, media for "mp3", "wav", "avi", "mid"
// and the video group (exact, case-sensitive); nothing for any other text.
std::optional<PreviewKind> previewKindFor(const QString& extensionText);

// The text the editor keeps a kind as ("graf", "mus"), and back; any other
// text is no kind.
QString previewKindText(PreviewKind kind);
std::optional<PreviewKind> previewKindOf(const QString& text);

} // namespace qevra
