#pragma once

#include <QImage>
#include <string>
#include <vector>

namespace qevra::testing {

// The bytes of an image saved in a Qt format ("BMP", "JPG", "ICO", ...).
std::string encoded(const QImage& image, const char* format);

// A one-frame GIF of `width` × `height` whose pixels index the colour table
// red, green, blue, black; `transparent` names a transparent index, if any.
std::string gifBytes(int width, int height, const std::vector<int>& pixels, int transparent = -1);

// A mono 16-bit PCM WAV file: `seconds` of a 440 Hz sine at 8 kHz.
std::string wavContent(double seconds);

} // namespace qevra::testing
