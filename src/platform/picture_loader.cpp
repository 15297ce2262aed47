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

// How far into a GIF its first frame's descriptor is looked for.
constexpr qsizetype kGifLookAhead = 64 * 1024;

// The first frame's extent, from its left and top edges to its right and
// bottom ones, read from the image descriptor that follows the header, the
// global colour table and any extensions in the first kGifLookAhead bytes.
// An empty size when the file does not show it there.
QSize gifFrameExtent(int fd, const unsigned char* header)
{
    QByteArray bytes(kGifLookAhead, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, bytes.data(), std::size_t(bytes.size()), 0);
    if (got <= 0)
        return QSize();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype end = got;
    qsizetype at = 13;
    if (header[10] & 0x80)
        at += 3 * (qsizetype(2) << (header[10] & 7));
    // Extensions: "!", a label, then sub-blocks of a length byte each, up
    // to an empty one. Each step moves forward, so this ends.
    while (at + 1 < end && data[at] == '!') {
        at += 2;
        while (at < end && data[at] != 0)
            at += data[at] + 1;
        ++at;
    }
    if (at + 10 > end || data[at] != ',')
        return QSize();
    const auto word = [&](qsizetype i) { return int(data[at + i] | data[at + i + 1] << 8); };
    return QSize(word(1) + word(5), word(3) + word(7));
}

// The size of the picture Qt's GIF reader decodes into: the logical screen
// its header declares (two little-endian 16-bit numbers after "GIF87a" or
// "GIF89a"); where a side of it is 0, the reader takes the first frame's
// extent instead. Read from the first bytes alone, as Qt's reader would
// scan the whole file to give a size; an empty size when they do not say.
QSize gifCanvas(int fd)
{
    unsigned char header[13];
    if (::pread(fd, header, sizeof header, 0) != ssize_t(sizeof header)
        || std::memcmp(header, "GIF", 3) != 0)
        return QSize();
    QSize canvas(header[6] | header[7] << 8, header[8] | header[9] << 8);
    if (canvas.width() == 0 || canvas.height() == 0) {
        const QSize frame = gifFrameExtent(fd, header);
        if (frame.isEmpty())
            return QSize();
        if (canvas.width() == 0)
            canvas.setWidth(frame.width());
        if (canvas.height() == 0)
            canvas.setHeight(frame.height());
    }
    return canvas;
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
// much the reader may allocate; a size beyond the bound (kMaxGifPixels for a
// GIF, else kMaxPicturePixels) is refused before anything is decoded. When
// the header does not say, the reader may allocate up to the bound.
QImage decodeWithQt(int fd, const char* format)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Exception(file.errorString());
    QImageReader reader(&file, format);
    // The name chose the decoder; a PNG called .bmp is not a BMP.
    reader.setAutoDetectImageFormat(false);

    const bool gif = std::strcmp(format, "gif") == 0;
    const qint64 bound = gif ? kMaxGifPixels : kMaxPicturePixels;
    const QSize declared = gif ? gifCanvas(fd) : reader.size();
    qint64 pixels = bound;
    // A BMP stored top down declares a negative height.
    if (declared.width() > 0 && declared.height() != 0) {
        const qint64 width = declared.width();
        const qint64 height = std::abs(qint64(declared.height()));
        if (width * height > bound)
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

// The progress monitor and what it has counted so far.
struct JpegProgress {
    jpeg_progress_mgr base; // first: libjpeg hands back a pointer to it
    bool multiScan;
    int countedScan;
    qint64 blocks;
};

struct JpegSession {
    jpeg_decompress_struct info;
    JpegErrors errors;
    JpegProgress progress;
};
static_assert(std::is_trivially_destructible_v<JpegSession>);

// The bounds of a JPEG's decoding, measured on a two-core machine of these
// (libjpeg-turbo 2.1.5, release build, another build running beside it):
//
// - A progressive or multi-scan picture is first read whole into libjpeg's
//   coefficient buffer: 128 bytes per 8 × 8 block of every component, at
//   full size whatever scale the output has. A 16384 × 16384 grey picture
//   needs 512 MiB of it; a 48-megapixel 4:2:0 photo (8000 × 6000) 137 MiB
//   and a 50-megapixel one 144 MiB. 160 MiB takes those photos (and a
//   24-megapixel 4:4:4 one), refuses the 61-megapixel class, and keeps a
//   hostile file, with the small output the picture boxes ask for, under
//   200 MB (a 9000 × 9000 grey one, just within it, peaks at 162 MB).
//   libjpeg here has no backing store on disk, so a buffer beyond it fails
//   with JERR_NO_BACKING_STORE before it is allocated.
//
// - Every scan decodes every block of the components it holds, even when
//   its data is a few bytes of end-of-band runs: such a scan repeated costs
//   30–45 ns a block (2.1 billion blocks, a 16384 × 16384 grey file of 500
//   scans, took 33–85 s), while real data costs about 150 ns a block and
//   file bytes to match. Besides, the first touch of memory costs these
//   machines about 2.9 ms a megabyte: a coefficient buffer near 160 MiB
//   takes 0.46 s before its first scan is done. kMaxJpegBlocks of 10
//   million blocks keeps the worst hostile file, grey 9000 × 9000 in many
//   cheap scans, at about 0.8 s. Photos need less: the usual ten-scan
//   progression of a 4:2:0 photo decodes 5.3 times its blocks (3 million
//   for 6000 × 4000, 6 million for 8000 × 6000), and five more scans of
//   the 48-megapixel one bring it to 9.8 million. A one-scan picture is not
//   counted: it is decoded once, while its rows are read out, so its
//   pixels bound its work.
constexpr long kJpegMemory = 160L << 20;

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

// Called before each step of input that jpeg_start_decompress absorbs (a
// scan's markers, a row of its blocks) and before each row read out: ends a
// file of too many scans, or of too much work, the way an error would. A
// scan's blocks are counted as soon as its header is in, before any of its
// data is decoded.
void jpegProgress(j_common_ptr common)
{
    const auto* info = reinterpret_cast<j_decompress_ptr>(common);
    auto* errors = reinterpret_cast<JpegErrors*>(common->err);
    if (info->input_scan_number > kMaxJpegScans) {
        std::snprintf(errors->message, sizeof errors->message,
            "Too many scans in the JPEG file (more than %d)", kMaxJpegScans);
        std::longjmp(errors->jump, 1);
    }
    auto* progress = reinterpret_cast<JpegProgress*>(common->progress);
    if (!progress->multiScan || info->input_scan_number == progress->countedScan)
        return;
    progress->countedScan = info->input_scan_number;
    for (int i = 0; i < info->comps_in_scan; ++i) {
        const jpeg_component_info* component = info->cur_comp_info[i];
        progress->blocks += qint64(component->width_in_blocks) * component->height_in_blocks;
    }
    if (progress->blocks <= kMaxJpegBlocks)
        return;
    std::snprintf(errors->message, sizeof errors->message,
        "The JPEG file takes too much work to decode (%d scans of a %ux%u picture)",
        info->input_scan_number, info->image_width, info->image_height);
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
    session->progress.base.progress_monitor = jpegProgress;
    session->info.progress = &session->progress.base;
    jpeg_stdio_src(&session->info, file);
    jpeg_read_header(&session->info, TRUE);
    // Nothing is allocated for the picture yet: the header alone decides.
    if (qint64(session->info.image_width) * session->info.image_height > kMaxPicturePixels)
        return JpegStart::TooLarge;
    session->progress.multiScan = jpeg_has_multiple_scans(&session->info);
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
    gif.screen = gifCanvas(file.get());
    if (gif.screen.isEmpty())
        gif.screen = gif.firstFrame.size();
    return gif;
}

} // namespace qevra::platform
