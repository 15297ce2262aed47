#pragma once

#include <QImage>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qevra::testing {

// The bytes of an image saved in a Qt format ("BMP", "JPG", "ICO", ...).
std::string encoded(const QImage& image, const char* format);

// A one-frame GIF of `width` × `height` whose pixels index the colour table
// red, green, blue, black; `transparent` names a transparent index, if any.
std::string gifBytes(int width, int height, const std::vector<int>& pixels, int transparent = -1);

// The headers of an uncompressed BMP of `width` × `height` pixels (a
// negative height: stored top down) at 8 bits a pixel with a grey palette,
// or at 24; the pixels follow them.
std::string bmpHeader(int width, int height, int bitsPerPixel);

// Extends the file to `size` bytes with a hole of zeros that costs no disk.
void growSparse(const std::string& path, off_t size);

// Runs `work`, ignoring what it throws, and returns how far the process's
// peak resident memory rose above what it held before, in bytes; -1 when
// it cannot tell.
long long peakMemoryGrowth(const std::function<void()>& work);

// A mono 16-bit PCM WAV file: `seconds` of a 440 Hz sine at 8 kHz.
std::string wavContent(double seconds);

} // namespace qevra::testing
