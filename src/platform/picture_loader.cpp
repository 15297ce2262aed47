#include "platform/picture_loader.h"

#include "base/exceptions.h"
#include "fs/descriptor.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

#include <jerror.h>
#include <jpeglib.h>

namespace qevra::platform {

namespace {

[[noreturn]] void throwSystemError(int code)
{
    throw Exception(QString::fromLocal8Bit(std::strerror(code)));
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens the file by its exact bytes, never blocking on a pipe or device and
// never through a link; the file system's own words when it cannot.
FilePtr openForReading(const std::string& path)
{
    fs::OpenedFile opened = fs::openRegularFile(path);
    if (!opened.fd)
        throwSystemError(opened.error);
    FILE* stream = ::fdopen(opened.fd.get(), "rb");
    if (!stream)
        throwSystemError(errno);
    opened.fd.release();
    return FilePtr(stream);
}

QByteArray readAll(FILE* file)
{
    QByteArray bytes;
    char chunk[64 * 1024];
    for (;;) {
        const std::size_t count = std::fread(chunk, 1, sizeof chunk, file);
        bytes.append(chunk, static_cast<qsizetype>(count));
        if (count < sizeof chunk) {
            if (std::ferror(file))
                throwSystemError(errno);
            return bytes;
        }
    }
}

QImage decodeWithQt(QByteArray bytes, const char* format)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    // The name chose the decoder; a PNG called .bmp is not a BMP.
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (image.isNull())
        throw Exception(reader.errorString());
    return image;
}

// --- JPEG through libjpeg ---------------------------------------------------
//
// libjpeg reports a fatal error by calling error_exit, which must not
// return; ours longjmps back into the stage that made the call. Every stage
// is a plain function whose frame holds C state only, so the jump skips no
// destructor; the C++ side turns the saved message into an exception after
// the stage has returned.

constexpr int kKeptWarnings = 8;

struct JpegErrors {
    jpeg_error_mgr base; // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int warningCount;
    char warnings[kKeptWarnings][JMSG_LENGTH_MAX];
};

struct JpegSession {
    jpeg_decompress_struct info;
    JpegErrors errors;
};
static_assert(std::is_trivially_destructible_v<JpegSession>);

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->base.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void jpegEmitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return; // trace output
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (errors->warningCount < kKeptWarnings)
        errors->base.format_message(info, errors->warnings[errors->warningCount]);
    ++errors->warningCount;
    ++errors->base.num_warnings;
}

void jpegOutputMessage(j_common_ptr)
{
}

bool jpegStart(JpegSession* session, FILE* file)
{
    if (setjmp(session->errors.jump))
        return false;
    jpeg_create_decompress(&session->info);
    jpeg_stdio_src(&session->info, file);
    jpeg_read_header(&session->info, TRUE);
    switch (session->info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        session->info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        // libjpeg turns YCCK into CMYK; CMYK into RGB is ours to do.
        session->info.out_color_space = JCS_CMYK;
        break;
    default:
        session->info.out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(&session->info);
    return true;
}

bool jpegReadRows(JpegSession* session, unsigned char* bits, qsizetype bytesPerLine)
{
    if (setjmp(session->errors.jump))
        return false;
    while (session->info.output_scanline < session->info.output_height) {
        JSAMPROW row = bits + session->info.output_scanline * bytesPerLine;
        jpeg_read_scanlines(&session->info, &row, 1);
    }
    return true;
}

bool jpegFinish(JpegSession* session)
{
    if (setjmp(session->errors.jump))
        return false;
    jpeg_finish_decompress(&session->info);
    return true;
}

class JpegDecoder {
public:
    JpegDecoder()
    {
        session_.info.err = jpeg_std_error(&session_.errors.base);
        session_.errors.base.error_exit = jpegErrorExit;
        session_.errors.base.emit_message = jpegEmitMessage;
        session_.errors.base.output_message = jpegOutputMessage;
    }
    // Safe whatever stage failed: a never-created session owns nothing.
    ~JpegDecoder() { jpeg_destroy_decompress(&session_.info); }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    JpegSession* session() { return &session_; }
    QString error() const { return QString::fromLatin1(session_.errors.message); }
    QStringList warnings() const
    {
        QStringList list;
        const int kept = std::min(session_.errors.warningCount, kKeptWarnings);
        for (int i = 0; i < kept; ++i)
            list << QString::fromLatin1(session_.errors.warnings[i]);
        return list;
    }

private:
    JpegSession session_ {};
};

// The CMYK samples sit in the image's 32-bit pixels as they came; replaces
// each with its RGB. Adobe's programs store the inks inverted (255 = none)
// and mark the file with their APP14 segment.
void cmykToRgb(QImage& image, bool inverted)
{
    for (int y = 0; y < image.height(); ++y) {
        uchar* sample = image.scanLine(y);
        auto* pixel = reinterpret_cast<QRgb*>(sample);
        for (int x = 0; x < image.width(); ++x, sample += 4) {
            int c = sample[0], m = sample[1], yellow = sample[2], k = sample[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yellow = 255 - yellow;
                k = 255 - k;
            }
            pixel[x] = qRgb(c * k / 255, m * k / 255, yellow * k / 255);
        }
    }
}

QImage loadJpeg(const std::string& path, QStringList* warnings)
{
    const FilePtr file = openForReading(path);
    JpegDecoder decoder;
    JpegSession* session = decoder.session();
    if (!jpegStart(session, file.get()))
        throw Exception(decoder.error());

    const jpeg_decompress_struct& info = session->info;
    QImage::Format format = QImage::Format_RGB888;
    if (info.out_color_space == JCS_GRAYSCALE)
        format = QImage::Format_Grayscale8;
    else if (info.out_color_space == JCS_CMYK)
        format = QImage::Format_RGB32;
    QImage image(static_cast<int>(info.output_width), static_cast<int>(info.output_height), format);
    if (image.isNull())
        throw Exception(QStringLiteral("Not enough memory for a %1x%2 picture")
                            .arg(info.output_width)
                            .arg(info.output_height));
    if (!jpegReadRows(session, image.bits(), image.bytesPerLine()))
        throw Exception(decoder.error());
    // Every row is in: whatever the end of the file holds is only a blemish.
    const bool finished = jpegFinish(session);
    if (info.out_color_space == JCS_CMYK)
        cmykToRgb(image, info.saw_Adobe_marker);

    if (warnings) {
        *warnings = decoder.warnings();
        if (!finished)
            *warnings << decoder.error();
    }
    return image;
}

std::string asciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return text;
}

} // namespace

QImage loadPicture(const std::string& path, QStringList* warnings)
{
    if (warnings)
        warnings->clear();
    const std::size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    const std::string key = asciiLower(extension);
    if (key == "jpg" || key == "jpeg")
        return loadJpeg(path, warnings);
    // Windows metafiles (.wmf, .emf) have no reader here and count as unknown.
    if (key == "bmp" || key == "gif" || key == "ico") {
        const FilePtr file = openForReading(path);
        return decodeWithQt(readAll(file.get()), key.c_str());
    }
    throw Exception(QStringLiteral("Unknown picture file extension (.%1)")
                        .arg(QFile::decodeName(QByteArray::fromStdString(extension))));
}

GifPicture loadGif(const std::string& path)
{
    const FilePtr file = openForReading(path);
    const QByteArray bytes = readAll(file.get());
    GifPicture gif;
    gif.firstFrame = decodeWithQt(bytes, "gif");
    // The logical screen: two little-endian 16-bit numbers after "GIF89a".
    const auto at = [&bytes](int i) { return static_cast<int>(static_cast<uchar>(bytes[i])); };
    if (bytes.size() >= 10)
        gif.screen = QSize(at(6) | at(7) << 8, at(8) | at(9) << 8);
    if (gif.screen.isEmpty())
        gif.screen = gif.firstFrame.size();
    return gif;
}

} // namespace qevra::platform
