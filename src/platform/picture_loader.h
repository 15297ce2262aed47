#pragma once

#include <QImage>
#include <QSize>
#include <QStringList>
#include <string>

namespace qevra::platform {

// Decodes a picture file into an image, choosing the decoder by the text
// after the last dot of the path, letter case ignored: "jpg" and "jpeg"
// through libjpeg; "bmp", "gif" (its first frame) and "ico" through Qt's
// image readers. Throws qevra::Exception with the decoder's or the file
// system's message when the file cannot be decoded, and with
// "Unknown picture file extension (.EXT)" for any other extension.
// When `warnings` is given, it receives the decoder's complaints about a
// picture it could still decode (a JPEG cut short, say).
QImage loadPicture(const std::string& path, QStringList* warnings = nullptr);

// A GIF's first frame and the size of its logical screen.
struct GifPicture {
    QImage firstFrame;
    QSize screen;
};

// Decodes a file as GIF whatever its name; throws like loadPicture().
GifPicture loadGif(const std::string& path);

} // namespace qevra::platform
