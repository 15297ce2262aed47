#pragma once

#include <QImage>
#include <QSize>
#include <QStringList>
#include <string>

namespace qevra::platform {

// The largest picture decoded: 16384 × 16384 pixels, 1 GiB at four bytes a
// pixel. libjpeg's own working memory is held to the same 1 GiB.
inline constexpr qint64 kMaxPicturePixels = qint64(16384) * 16384;
// The most scans a JPEG may have; real progressive files have about ten.
inline constexpr int kMaxJpegScans = 500;

// Decodes a picture file into an image, choosing the decoder by the text
// after the last dot of the path, letter case ignored: "jpg" and "jpeg"
// through libjpeg; "bmp", "gif" (its first frame) and "ico" through Qt's
// image readers. Throws qevra::Exception with the decoder's or the file
// system's message when the file cannot be decoded, and with
// "Unknown picture file extension (.EXT)" for any other extension.
// When `warnings` is given, it receives the decoder's complaints about a
// picture it could still decode (a JPEG cut short, say).
//
// A picture larger than `fitTo` (when that is valid) comes back no larger
// than it in either direction, not keeping its aspect: JPEGs are decoded
// scaled down by libjpeg, other pictures are shrunk after decoding. A
// picture declaring more than kMaxPicturePixels is refused before anything
// is allocated for it, and a JPEG of more than kMaxJpegScans scans fails.
QImage loadPicture(const std::string& path, QSize fitTo = QSize(), QStringList* warnings = nullptr);

// A GIF's first frame and the size of its logical screen.
struct GifPicture {
    QImage firstFrame;
    QSize screen;
};

// Decodes a file as GIF whatever its name, within the same bounds, whole;
// throws like loadPicture().
GifPicture loadGif(const std::string& path);

} // namespace qevra::platform
