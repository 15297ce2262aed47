// Decodes hostile and ordinary pictures as the copies editor's preview does
// and prints the time (wall and CPU) and the rise of peak memory of each:
// - progressive JPEGs of 500 scans (grey, of one colour, as small as such
//   files get): 16384 × 16384, 9000 × 9000 (the largest whose coefficients
//   fit libjpeg's working memory) and 4096 × 4096;
// - ordinary progressive photos (4:2:0, ten scans) of 24 and 48 megapixels;
// - two GIFs at once in the two picture places of the open copies editor,
//   declaring a 16383 × 16383 logical screen, and then two at the bound.
// Goals: a hostile JPEG shown or refused within 1 s and 200 MB; two GIFs
// within 100 MB. Usage: qevra-bench-pictures [--keep DIR]

#include "platform/gif_animator.h"
#include "platform/picture_loader.h"

#include "base/exceptions.h"

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Clock = std::chrono::steady_clock;
using qevra::platform::GifAnimator;

constexpr double kJpegSeconds = 1.0;
constexpr double kJpegMegabytes = 200;
constexpr double kGifMegabytes = 100;
// The picture box's size in the copies editor.
const QSize kBox(161, 145);

long long peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    }
    return -1;
}

// The rise of the process's peak resident memory during `work`, in MB
// (1e6 bytes), after the peak has been reset to what is resident now; -1
// when the system does not tell.
double peakGrowth(const std::function<void()>& work)
{
    std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (!reset)
        return -1;
    const bool written = std::fputs("5", reset) >= 0;
    if (std::fclose(reset) != 0 || !written)
        return -1;
    const long long before = peakResidentBytes();
    work();
    const long long after = peakResidentBytes();
    return before < 0 || after < 0 ? -1 : double(after - before) / 1e6;
}

// A progressive JPEG (libjpeg's simple progression) made row by row: grey
// of one colour, or a colour photo stand-in (gradients with some noise, so
// that its scans carry data as a photo's do).
std::string progressiveJpeg(int width, int height, bool colour)
{
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = colour ? 3 : 1;
    info.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t(width) * info.input_components, 128);
    unsigned noise = 1;
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; colour && x < width; ++x) {
            noise = noise * 1103515245 + 12345;
            const int jitter = int(noise >> 16 & 15);
            row[3 * std::size_t(x)] = static_cast<unsigned char>(x * 239 / width + jitter);
            row[3 * std::size_t(x) + 1] = static_cast<unsigned char>(y * 239 / height + jitter);
            row[3 * std::size_t(x) + 2] = static_cast<unsigned char>((x + y) % 240 + jitter);
        }
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::unique_ptr<unsigned char, decltype(&std::free)> owner(buffer, &std::free);
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

// The JPEG with its last scan repeated until it has `scans` scans.
std::string withScans(const std::string& jpeg, int scans)
{
    int have = 0;
    for (std::size_t at = jpeg.find("\xff\xda"); at != std::string::npos;
         at = jpeg.find("\xff\xda", at + 2))
        ++have;
    const std::size_t last = jpeg.rfind("\xff\xda");
    const std::size_t end = jpeg.size() - 2;
    std::string out = jpeg.substr(0, end);
    for (int i = have; i < scans; ++i)
        out += jpeg.substr(last, end - last);
    return out + jpeg.substr(end);
}

// A one-pixel GIF whose header declares a `width` × `height` logical screen.
std::string gifDeclaring(int width, int height)
{
    std::string gif = "GIF89a";
    for (const int value : { width, height })
        gif += { char(value & 0xff), char(value >> 8) };
    gif += std::string("\x80\0\0\xff\0\0\0\0\0", 9); // two colours, red and black
    gif += std::string(",\0\0\0\0\x01\0\x01\0\0", 10); // the frame: 1 × 1 at 0, 0
    gif += std::string("\x02\x02\x44\x01\0;", 6); // clear, index 0, end
    return gif;
}

bool writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
    return bool(out.flush());
}

const char* goal(bool met)
{
    return met ? "GOAL MET" : "GOAL MISSED";
}

struct Decoded {
    double seconds = 0;
    double cpuSeconds = 0;
    double megabytes = 0;
    QString error;
    QSize size;
};

Decoded decode(const std::string& path, QSize fitTo)
{
    Decoded result;
    const Clock::time_point start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    result.megabytes = peakGrowth([&] {
        try {
            result.size = qevra::platform::loadPicture(path, fitTo).size();
        } catch (const qevra::Exception& error) {
            result.error = error.message();
        }
    });
    result.cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

void printDecoded(const char* what, std::size_t bytes, const Decoded& decoded, bool hostile)
{
    std::printf("%-44s %8.1f KB  %6.3f s  %6.3f s  %7.1f MB  %s\n", what, double(bytes) / 1024,
        decoded.seconds, decoded.cpuSeconds, decoded.megabytes,
        decoded.error.isEmpty() ? qPrintable(
            QStringLiteral("shown, %1x%2").arg(decoded.size.width()).arg(decoded.size.height()))
                                : qPrintable(QStringLiteral("refused: ") + decoded.error));
    if (hostile) {
        std::printf("  %s: %.3f s within %.1f s, %.1f MB within %.0f MB\n",
            goal(decoded.seconds <= kJpegSeconds && decoded.megabytes <= kJpegMegabytes),
            decoded.seconds, kJpegSeconds, decoded.megabytes, kJpegMegabytes);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir;
    bool keep = false;
    if (argc == 3 && std::strcmp(argv[1], "--keep") == 0) {
        dir = argv[2];
        keep = true;
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: qevra-bench-pictures [--keep DIR]\n");
        return 2;
        std::error_code made;
        std::filesystem::create_directories(dir, made);
    } else {
        char pattern[] = "/tmp/qevra-bench-pictures-XXXXXX";
        if (!::mkdtemp(pattern)) {
            std::perror("mkdtemp");
            return 2;
        }
        dir = pattern;
    }

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int appArgc = 1;
    static char appName[] = "qevra-bench-pictures";
    static char* appArgv[] = { appName, nullptr };
    QApplication application(appArgc, appArgv);

    struct Jpeg {
        const char* what;
        std::string name;
        int width, height;
        bool colour;
        int scans;
        QSize fitTo;
        bool hostile;
    };
    const Jpeg jpegs[] = {
        { "hostile grey 16384x16384, 500 scans", "hostile-16384.jpg", 16384, 16384, false, 500,
            kBox, true },
        { "hostile grey 9000x9000, 500 scans", "hostile-9000.jpg", 9000, 9000, false, 500, kBox,
            true },
        { "hostile grey 4096x4096, 500 scans", "hostile-4096.jpg", 4096, 4096, false, 500, kBox,
            true },
        { "photo 6000x4000 4:2:0, 10 scans, in the box", "photo-24.jpg", 6000, 4000, true, 0, kBox,
            false },
        { "photo 6000x4000 4:2:0, 10 scans, whole", "photo-24.jpg", 6000, 4000, true, 0, QSize(),
            false },
        { "photo 8000x6000 4:2:0, 10 scans, in the box", "photo-48.jpg", 8000, 6000, true, 0, kBox,
            false },
        { "photo 8000x6000 4:2:0, 15 scans, in the box", "photo-48-15.jpg", 8000, 6000, true, 15,
            kBox, false },
    };
    std::printf("pictures in %s; JPEG goals: hostile files shown or refused within %.1f s and "
                "%.0f MB\n",
        dir.c_str(), kJpegSeconds, kJpegMegabytes);
    std::printf("%-44s %11s  %8s  %8s  %10s\n", "JPEG", "file", "time", "CPU", "peak rise");
    for (const Jpeg& jpeg : jpegs) {
        const std::string path = dir + "/" + jpeg.name;
        std::ifstream existing(path, std::ios::binary | std::ios::ate);
        std::size_t bytes = existing ? std::size_t(existing.tellg()) : 0;
        if (!existing) {
            std::string content = progressiveJpeg(jpeg.width, jpeg.height, jpeg.colour);
            if (jpeg.scans > 0)
                content = withScans(content, jpeg.scans);
            if (!writeFile(path, content)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 2;
            }
            bytes = content.size();
        }
        printDecoded(jpeg.what, bytes, decode(path, jpeg.fitTo), jpeg.hostile);
    }

    // The copies editor with its panel open: 830 × 356, the animators' corners
    // at (656, 40) and (658, 208).
    std::printf("\nGIF goal: two at once within %.0f MB\n", kGifMegabytes);
    QWidget window;
    window.resize(830, 356);
    for (const auto& [what, width, height] : { std::tuple { "16383x16383 screens", 16383, 16383 },
             std::tuple { "4096x4096 screens (the bound)", 4096, 4096 } }) {
        GifAnimator first(&window);
        first.move(656, 40);
        GifAnimator second(&window);
        second.move(658, 208);
        const std::string one = dir + "/one-" + std::to_string(width) + ".gif";
        const std::string two = dir + "/two-" + std::to_string(width) + ".gif";
        const std::string content = gifDeclaring(width, height);
        if (!writeFile(one, content) || !writeFile(two, content)) {
            std::fprintf(stderr, "cannot write the GIFs in %s\n", dir.c_str());
            return 2;
        }
        QString error;
        const Clock::time_point start = Clock::now();
        const double megabytes = peakGrowth([&] {
            for (GifAnimator* animator : { &first, &second }) {
                try {
                    animator->load(animator == &first ? one : two);
                } catch (const qevra::Exception& failure) {
                    error = failure.message();
                }
            }
        });
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("two GIFs of %-32s %zu bytes each  %6.3f s  %7.1f MB  %s\n", what,
            content.size(), seconds, megabytes,
            error.isEmpty() ? qPrintable(QStringLiteral("shown, keeping %1x%2 and %3x%4")
                                             .arg(first.picture().width())
                                             .arg(first.picture().height())
                                             .arg(second.picture().width())
                                             .arg(second.picture().height()))
                            : qPrintable(QStringLiteral("refused: ") + error));
        std::printf("  %s: %.1f MB within %.0f MB\n", goal(megabytes <= kGifMegabytes), megabytes,
            kGifMegabytes);
    }

    if (!keep) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return 0;
}
