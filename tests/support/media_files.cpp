#include "support/media_files.h"

#include <QBuffer>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <numbers>
#include <unistd.h>

namespace qevra::testing {

std::string encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes.toStdString();
}

// A one-frame GIF whose pixels index the table red, green, blue, black. The
// LZW stream puts a clear code before every pixel, so codes stay 3 bits wide.
std::string gifBytes(int width, int height, const std::vector<int>& pixels, int transparent)
{
    const auto word = [](int value) {
        return std::string { char(value & 0xff), char(value >> 8) };
    };
    std::string out = "GIF89a" + word(width) + word(height) + std::string("\x81\0\0", 3)
        + std::string("\xff\0\0\0\xff\0\0\0\xff\0\0\0", 12);
    if (transparent >= 0) // graphic control extension: transparency on
        out.append("\x21\xf9\x04\x01\0\0", 6).append(1, char(transparent)).append(1, '\0');
    out.append(",").append(word(0)).append(word(0)).append(word(width)).append(word(height));
    out.append(1, '\0').append(1, '\x02');
    std::string data;
    unsigned bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= unsigned(code) << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8)
            data += char(bits & 0xff);
    };
    for (int index : pixels) {
        put(4); // clear
        put(index);
    }
    put(5); // end
    if (count > 0)
        data += char(bits & 0xff);
    if (data.size() > 255)
        ADD_FAILURE() << "one data sub-block only";
    return out + char(data.size()) + data + '\0' + ';';
}

static void appendLittleEndian(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xff);
}

std::string bmpHeader(int width, int height, int bitsPerPixel)
{
    const int colours = bitsPerPixel == 8 ? 256 : 0;
    const std::uint32_t offset = 14 + 40 + 4 * colours;
    const std::uint32_t rowBytes = (std::uint32_t(width) * bitsPerPixel + 31) / 32 * 4;
    const std::uint32_t dataBytes = rowBytes * std::uint32_t(std::abs(height));
    std::string out = "BM";
    appendLittleEndian(out, offset + dataBytes, 4);
    appendLittleEndian(out, 0, 4); // reserved
    appendLittleEndian(out, offset, 4);
    appendLittleEndian(out, 40, 4); // info header size
    appendLittleEndian(out, std::uint32_t(width), 4);
    appendLittleEndian(out, std::uint32_t(height), 4);
    appendLittleEndian(out, 1, 2); // planes
    appendLittleEndian(out, std::uint32_t(bitsPerPixel), 2);
    appendLittleEndian(out, 0, 4); // no compression
    appendLittleEndian(out, dataBytes, 4);
    appendLittleEndian(out, 2835, 4); // 72 dpi
    appendLittleEndian(out, 2835, 4);
    appendLittleEndian(out, std::uint32_t(colours), 4);
    appendLittleEndian(out, 0, 4);
    for (int grey = 0; grey < colours; ++grey)
        appendLittleEndian(out, std::uint32_t(grey * 0x010101), 4);
    return out;
}

void growSparse(const std::string& path, off_t size)
{
    EXPECT_EQ(::truncate(path.c_str(), size), 0) << path;
}

static long long peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    }
    return -1;
}

long long peakMemoryGrowth(const std::function<void()>& work)
{
    // Forget the peak reached so far: it restarts from what is resident now.
    FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (!reset)
        return -1;
    const bool written = std::fputs("5", reset) >= 0;
    if (std::fclose(reset) != 0 || !written)
        return -1;
    const long long before = peakResidentBytes();
    try {
        work();
    } catch (...) {
    }
    const long long after = peakResidentBytes();
    return before < 0 || after < 0 ? -1 : after - before;
}

std::string wavContent(double seconds)
{
    constexpr std::uint32_t rate = 8000;
    const auto samples = std::uint32_t(seconds * rate);
    const std::uint32_t dataBytes = samples * 2;
    std::string out = "RIFF";
    appendLittleEndian(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    appendLittleEndian(out, 16, 4); // format chunk size
    appendLittleEndian(out, 1, 2); // PCM
    appendLittleEndian(out, 1, 2); // channels
    appendLittleEndian(out, rate, 4);
    appendLittleEndian(out, rate * 2, 4); // bytes per second
    appendLittleEndian(out, 2, 2); // bytes per frame
    appendLittleEndian(out, 16, 2); // bits per sample
    out += "data";
    appendLittleEndian(out, dataBytes, 4);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double value = 8000 * std::sin(2 * std::numbers::pi * 440 * i / rate);
        appendLittleEndian(out, std::uint32_t(std::int16_t(std::lround(value))), 2);
    }
    return out;
}

} // namespace qevra::testing
