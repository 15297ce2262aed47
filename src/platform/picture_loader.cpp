#include "platform/picture_loader.h"

#include "base/exceptions.h"
#include "fs/descriptor.h"

#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
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

QString tooLarge(qint64 width, qint64 height)
{
    return QStringLiteral("The picture is too large to show (%1x%2 pixels)").arg(width).arg(height);
}

// Opens the file by its exact bytes, never blocking on a pipe or device and
// never through a link; the file system's own words when it cannot.
fs::Descriptor openChecked(const std::string& path)
{
    fs::OpenedFile opened = fs::openRegularFile(path);
    if (!opened.fd)
        throwSystemError(opened.error);
    return std::move(opened.fd);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The same as a stdio stream, for libjpeg's file source.
FilePtr openForReading(const std::string& path)
{
    fs::Descriptor fd = openChecked(path);
    FILE* stream = ::fdopen(fd.get(), "rb");
    if (!stream)
        throwSystemError(errno);
    fd.release();
    return FilePtr(stream);
}

// A picture larger than `fitTo` shrunk to it in each direction where it is
// larger; the picture box stretches it anyway, so the aspect is not kept.
QImage fitInto(QImage image, QSize fitTo)
{
    if (fitTo.width() <= 0 || fitTo.height() <= 0)
        return image;
    const QSize target = image.size().boundedTo(fitTo);
    if (target == image.size())
        return image;
    // A picture many times the target first drops rows and columns in its
    // own format, so that smoothing never turns the whole of a large indexed
    // picture into 32-bit pixels.
    constexpr int kCoarseFactor = 4;
    const QSize coarse = image.size().boundedTo(target * kCoarseFactor);
    if (coarse != image.size())
        image = image.scaled(coarse, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// --- BMP, GIF and ICO through Qt's readers ----------------------------------

// The logical screen a GIF's header declares: two little-endian 16-bit
// numbers after "GIF87a" or "GIF89a". Read from the header's bytes alone;
// Qt's reader would scan the whole file to give a size.
QSize gifScreen(int fd)
{
    unsigned char header[10];
    if (::pread(fd, header, sizeof header, 0) != ssize_t(sizeof header)
        || std::memcmp(header, "GIF", 3) != 0)
        return QSize();
    return QSize(header[6] | header[7] << 8, header[8] | header[9] << 8);
}

// Qt's readers refuse to allocate more than QImageReader's allocation limit,
// a setting of the whole program (128 MB unless changed). Sets it for one
// picture, as long as this lives: room for `pixels` at four bytes each,
// which is how the readers count.
class AllocationLimit {
public:
    explicit AllocationLimit(qint64 pixels)
        : saved_(QImageReader::allocationLimit())
    {
        QImageReader::setAllocationLimit(int((pixels * 4 >> 20) + 1));
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(saved_); }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    int saved_;
};

// Decodes the open file with Qt's reader for `format`, reading from the file
// only what the reader asks for. The size the header declares decides how
// much the reader may allocate; a size beyond the bound is refused before
// anything is decoded. When the header does not say, the reader may
// allocate up to the bound.
QImage decodeWithQt(int fd, const char* format)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Exception(file.errorString());
    QImageReader reader(&file, format);
    // The name chose the decoder; a PNG called .bmp is not a BMP.
    reader.setAutoDetectImageFormat(false);

    const QSize declared = std::strcmp(format, "gif") == 0 ? gifScreen(fd) : reader.size();
    qint64 pixels = kMaxPicturePixels;
    // A BMP stored top down declares a negative height.
    if (declared.width() > 0 && declared.height() != 0) {
        const qint64 width = declared.width();
        const qint64 height = std::abs(qint64(declared.height()));
        if (width * height > kMaxPicturePixels)
            throw Exception(tooLarge(width, height));
        pixels = width * height;
    }
    const AllocationLimit limit(pixels);
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
    jpeg_progress_mgr progress;
};
static_assert(std::is_trivially_destructible_v<JpegSession>);

// libjpeg's working memory: its whole-image buffers (those of a progressive
// or multi-scan picture) must fit in it, as libjpeg here has no backing
// store on disk.
constexpr long kJpegMemory = long(kMaxPicturePixels * 4);

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (errors->base.msg_code == JERR_NO_BACKING_STORE && info->is_decompressor) {
        // "Backing store not supported": what it means here.
        const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
        std::snprintf(errors->message, sizeof errors->message,
            "Not enough memory for a %ux%u picture", decompress->image_width,
            decompress->image_height);
    } else {
        errors->base.format_message(info, errors->message);
    }
    std::longjmp(errors->jump, 1);
}

// Called between the scans (and rows) that jpeg_start_decompress absorbs:
// ends a file of too many scans the way an error would.
void jpegProgress(j_common_ptr common)
{
    const auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number <= kMaxJpegScans)
        return;
    auto* errors = reinterpret_cast<JpegErrors*>(common->err);
    std::snprintf(errors->message, sizeof errors->message,
        "Too many scans in the JPEG file (more than %d)", kMaxJpegScans);
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

enum class JpegStart { Started, Failed, TooLarge };

// Reads the header and starts decompressing, scaled down by libjpeg to the
// smallest eighth of the picture that still covers fitWidth × fitHeight
// (when both are positive).
JpegStart jpegStart(JpegSession* session, FILE* file, int fitWidth, int fitHeight)
{
    if (setjmp(session->errors.jump))
        return JpegStart::Failed;
    jpeg_create_decompress(&session->info);
    session->info.mem->max_memory_to_use = kJpegMemory;
    session->progress.progress_monitor = jpegProgress;
    session->info.progress = &session->progress;
    jpeg_stdio_src(&session->info, file);
    jpeg_read_header(&session->info, TRUE);
    // Nothing is allocated for the picture yet: the header alone decides.
    if (qint64(session->info.image_width) * session->info.image_height > kMaxPicturePixels)
        return JpegStart::TooLarge;
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
    if (fitWidth > 0 && fitHeight > 0) {
        session->info.scale_denom = 8;
        for (unsigned eighths = 1; eighths <= 8; ++eighths) {
            session->info.scale_num = eighths;
            jpeg_calc_output_dimensions(&session->info);
            if (session->info.output_width >= JDIMENSION(fitWidth)
                && session->info.output_height >= JDIMENSION(fitHeight))
                break;
        }
    }
    // For a progressive or multi-scan file this reads every scan.
    jpeg_start_decompress(&session->info);
    return JpegStart::Started;
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

QImage loadJpeg(const std::string& path, QSize fitTo, QStringList* warnings)
{
    const FilePtr file = openForReading(path);
    JpegDecoder decoder;
    JpegSession* session = decoder.session();
    const jpeg_decompress_struct& info = session->info;
    switch (jpegStart(session, file.get(), fitTo.width(), fitTo.height())) {
    case JpegStart::Started:
        break;
    case JpegStart::Failed:
        throw Exception(decoder.error());
    case JpegStart::TooLarge:
        throw Exception(tooLarge(info.image_width, info.image_height));
    }

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
    return fitInto(std::move(image), fitTo);
}

std::string asciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return text;
}

} // namespace

QImage loadPicture(const std::string& path, QSize fitTo, QStringList* warnings)
{
    if (warnings)
        warnings->clear();
    const std::size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    const std::string key = asciiLower(extension);
    if (key == "jpg" || key == "jpeg")
        return loadJpeg(path, fitTo, warnings);
    // Windows metafiles (.wmf, .emf) have no reader here and count as unknown.
    if (key == "bmp" || key == "gif" || key == "ico") {
        const fs::Descriptor file = openChecked(path);
        return fitInto(decodeWithQt(file.get(), key.c_str()), fitTo);
    }
    throw Exception(QStringLiteral("Unknown picture file extension (.%1)")
                        .arg(QFile::decodeName(QByteArray::fromStdString(extension))));
}

GifPicture loadGif(const std::string& path)
{
    const fs::Descriptor file = openChecked(path);
    GifPicture gif;
    gif.firstFrame = decodeWithQt(file.get(), "gif");
    gif.screen = gifScreen(file.get());
    if (gif.screen.isEmpty())
        gif.screen = gif.firstFrame.size();
    return gif;
}

} // namespace qevra::platform
