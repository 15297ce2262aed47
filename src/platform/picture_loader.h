#pragma once

#include <QImage>
#include <QSize>
#include <QStringList>
#include <string>

namespace qevra::platform {

// The largest picture decoded: 16384 × 16384 pixels, 1 GiB at four bytes a
// pixel.
inline constexpr qint64 kMaxPicturePixels = qint64(16384) * 16384;
// The largest GIF decoded. Qt's reader decodes the whole logical screen at
// four bytes a pixel before it looks at a frame, so a GIF costs up to 64 MiB
// while it is read; the pictures kept of it are the size they are shown at.
inline constexpr qint64 kMaxGifPixels = qint64(4096) * 4096;
// The most scans a JPEG may have; real progressive files have about ten.
inline constexpr int kMaxJpegScans = 500;
// The most work a JPEG of several scans may take: coefficient blocks
// decoded, summed over its scans (a scan decodes every block of the
// components it holds). See picture_loader.cpp for how it was chosen.
inline constexpr qint64 kMaxJpegBlocks = 10'000'000;

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
// picture declaring more than kMaxPicturePixels (a GIF more than
// kMaxGifPixels) is refused before anything is allocated for it; a JPEG of
// more than kMaxJpegScans scans, or whose scans hold more than
// kMaxJpegBlocks blocks in all, fails before the scan over the limit is
// decoded, and one whose whole-image buffers would exceed libjpeg's working
// memory fails before they are allocated.
QImage loadPicture(const std::string& path, QSize fitTo = QSize(), QStringList* warnings = nullptr);

// A GIF's first frame, as large as its logical screen, and that size.
struct GifPicture {
    QImage firstFrame;
    QSize screen;
};

// Decodes a file as GIF whatever its name, within the same bounds, whole;
// throws like loadPicture(). Where the header gives a side of the logical
// screen as 0, the first frame's extent stands for it, as for Qt's reader.
GifPicture loadGif(const std::string& path);

} // namespace qevra::platform
