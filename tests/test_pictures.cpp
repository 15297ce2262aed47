// Picture decoding (libjpeg for JPEG, Qt's readers for BMP, GIF and ICO) and
// the still GIF widget, on picture files the tests write themselves.
#include "base/exceptions.h"
#include "platform/gif_animator.h"
#include "platform/picture_loader.h"
#include "support/errors.h"
#include "support/media_files.h"
#include "support/temp_tree.h"

#include <QBuffer>
#include <QPainter>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include <jpeglib.h>

using qevra::platform::GifAnimator;
using qevra::platform::kMaxJpegBlocks;
using qevra::platform::loadGif;
using qevra::platform::loadPicture;
using qevra::testing::bmpHeader;
using qevra::testing::encoded;
using qevra::testing::errorOf;
using qevra::testing::gifBytes;
using qevra::testing::growSparse;
using qevra::testing::peakMemoryGrowth;
using qevra::testing::readFile;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

QString systemMessage(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Each channel within `tolerance` of the expected colour.
testing::AssertionResult near(QRgb got, QRgb want, int tolerance = 12)
{
    if (std::abs(qRed(got) - qRed(want)) <= tolerance
        && std::abs(qGreen(got) - qGreen(want)) <= tolerance
        && std::abs(qBlue(got) - qBlue(want)) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
        << QColor(got).name().toStdString() << " is not near " << QColor(want).name().toStdString();
}

// A JPEG from raw samples of `components` bytes a pixel in colour space `in`.
std::string jpegBytes(int width, int height, int components, J_COLOR_SPACE in,
    const std::vector<unsigned char>& samples, J_COLOR_SPACE stored, bool adobeMarker = true,
    bool progressive = false)
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
    info.input_components = components;
    info.in_color_space = in;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, stored);
    info.write_Adobe_marker = adobeMarker;
    jpeg_set_quality(&info, 95, TRUE);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(&samples[info.next_scanline * width * components]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::unique_ptr<unsigned char, decltype(&std::free)> owner(buffer, &std::free);
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

// Left half `left`, right half `right`.
std::string rgbJpeg(int width, int height, QRgb left, QRgb right, bool progressive = false)
{
    std::vector<unsigned char> samples;
    for (int i = 0; i < width * height; ++i) {
        const QRgb colour = i % width < width / 2 ? left : right;
        samples.insert(
            samples.end(), { uchar(qRed(colour)), uchar(qGreen(colour)), uchar(qBlue(colour)) });
    }
    return jpegBytes(width, height, 3, JCS_RGB, samples, JCS_YCbCr, true, progressive);
}

// The JPEG with the size in its frame header replaced: its data no longer
// covers the picture.
std::string declaring(std::string jpeg, int width, int height)
{
    std::size_t frame = jpeg.find("\xff\xc0");
    if (frame == std::string::npos)
        frame = jpeg.find("\xff\xc2");
    EXPECT_NE(frame, std::string::npos);
    const char size[] = { char(height >> 8), char(height), char(width >> 8), char(width) };
    jpeg.replace(frame + 5, 4, size, 4);
    return jpeg;
}

// The JPEG with its last scan (header and data, up to the end marker)
// repeated `copies` more times.
std::string withRepeatedLastScan(const std::string& jpeg, int copies)
{
    const std::size_t scan = jpeg.rfind("\xff\xda");
    const std::size_t end = jpeg.size() - 2;
    std::string out = jpeg.substr(0, end);
    for (int i = 0; i < copies; ++i)
        out += jpeg.substr(scan, end - scan);
    return out + jpeg.substr(end);
}

// A progressive JPEG of `width` × `height` made row by row, grey or in
// colour (4:2:0, libjpeg's default): red rising from left to right, green
// from top to bottom, blue half on; grey follows the red.
std::string gradientJpeg(int width, int height, int components)
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
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t(width) * components);
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            unsigned char* sample = &row[std::size_t(x) * components];
            sample[0] = static_cast<unsigned char>(x * 255 / width);
            if (components == 3) {
                sample[1] = static_cast<unsigned char>(y * 255 / height);
                sample[2] = 128;
            }
        }
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::unique_ptr<unsigned char, decltype(&std::free)> owner(buffer, &std::free);
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

// A GIF of a `screen` logical screen with one frame over `frame`, whose
// pixels index the colour table red, green, blue, black by `index(x, y)`
// (within the frame). The LZW data puts a clear code before every pixel,
// as gifBytes does, in as many sub-blocks as it takes.
std::string gifOf(
    QSize screen, QRect frame, const std::function<int(int, int)>& index, int transparent = -1)
{
    const auto word = [](int value) {
        return std::string { char(value & 0xff), char(value >> 8) };
    };
    std::string out = "GIF89a" + word(screen.width()) + word(screen.height())
        + std::string("\x81\0\0", 3) + std::string("\xff\0\0\0\xff\0\0\0\xff\0\0\0", 12);
    if (transparent >= 0)
        out += std::string("\x21\xf9\x04\x01\0\0", 6) + char(transparent) + '\0';
    out += "," + word(frame.x()) + word(frame.y()) + word(frame.width()) + word(frame.height())
        + '\0' + '\x02';
    std::string data;
    unsigned bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= unsigned(code) << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8)
            data += char(bits & 0xff);
    };
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            put(4); // clear
            put(index(x, y));
        }
    }
    put(5); // end
    if (count > 0)
        data += char(bits & 0xff);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, data.size() - at);
        out += char(length) + data.substr(at, length);
    }
    return out + '\0' + ';';
}

// A one-pixel GIF whose logical screen is `width` × `height`: a few dozen
// bytes.
std::string gifDeclaring(int width, int height)
{
    std::string gif = gifBytes(1, 1, { 0 });
    const char size[] = { char(width), char(width >> 8), char(height), char(height >> 8) };
    gif.replace(6, 4, size, 4);
    return gif;
}

// Paints a GIF's first frame whole, stretched over its rectangle: what the
// animator's picture must look like.
class WholeFrame : public QWidget {
public:
    WholeFrame(QWidget* parent, QImage frame)
        : QWidget(parent)
        , frame_(std::move(frame))
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(rect(), frame_);
    }

private:
    QImage frame_;
};

// A window of `size` in the given colour.
std::unique_ptr<QWidget> window(QSize size, QRgb colour)
{
    auto made = std::make_unique<QWidget>();
    made->resize(size);
    made->setAutoFillBackground(true);
    QPalette colours = made->palette();
    colours.setColor(QPalette::Window, colour);
    made->setPalette(colours);
    return made;
}

constexpr long long MB = 1 << 20;

constexpr QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);

} // namespace

TEST(Pictures, JpegDecodesInColourAndGrey)
{
    TempTree tree;
    const QImage colour = loadPicture(tree.file("c.jpg", rgbJpeg(32, 16, red, blue)));
    ASSERT_EQ(colour.size(), QSize(32, 16));
    EXPECT_TRUE(near(colour.pixel(4, 8), red));
    EXPECT_TRUE(near(colour.pixel(28, 8), blue));

    std::vector<unsigned char> grey(16 * 8, 200);
    const QImage image
        = loadPicture(tree.file("g.jpeg", jpegBytes(16, 8, 1, JCS_GRAYSCALE, grey, JCS_GRAYSCALE)));
    ASSERT_EQ(image.size(), QSize(16, 8));
    EXPECT_TRUE(near(image.pixel(8, 4), qRgb(200, 200, 200), 3));
}

TEST(Pictures, CmykAndYcckJpegsTurnIntoRgb)
{
    TempTree tree;
    // Red on the left, blue on the right, as inks: C M Y K.
    std::vector<unsigned char> inks;
    for (int i = 0; i < 32 * 8; ++i) {
        if (i % 32 < 16)
            inks.insert(inks.end(), { 0, 255, 255, 0 });
        else
            inks.insert(inks.end(), { 255, 255, 0, 0 });
    }
    std::vector<unsigned char> inverted(inks);
    for (unsigned char& ink : inverted)
        ink = 255 - ink;
    struct Case {
        const char* name;
        const std::vector<unsigned char>& samples;
        J_COLOR_SPACE stored;
        bool adobe;
    };
    for (const Case& test : { Case { "adobe-cmyk.jpg", inverted, JCS_CMYK, true },
             Case { "plain-cmyk.jpg", inks, JCS_CMYK, false },
             Case { "ycck.jpg", inverted, JCS_YCCK, true } }) {
        SCOPED_TRACE(test.name);
        const QImage image = loadPicture(tree.file(
            test.name, jpegBytes(32, 8, 4, JCS_CMYK, test.samples, test.stored, test.adobe)));
        ASSERT_EQ(image.size(), QSize(32, 8));
        EXPECT_TRUE(near(image.pixel(4, 4), red, 20));
        EXPECT_TRUE(near(image.pixel(28, 4), blue, 20));
    }
}

TEST(Pictures, DecoderChosenByExtensionInAnyCase)
{
    TempTree tree;
    QImage square(4, 3, QImage::Format_RGB32);
    square.fill(green);
    const std::string jpeg = rgbJpeg(4, 3, green, green);
    const std::string gif = gifBytes(4, 3, std::vector<int>(12, 1));
    for (const auto& [name, content] :
        { std::pair { "A.JPG", jpeg }, { "b.JpEg", jpeg }, { "c.BMP", encoded(square, "bmp") },
            { "d.Gif", gif }, { "e.ICO", encoded(square, "ico") }, { "dots.in.name.gif", gif } }) {
        SCOPED_TRACE(name);
        QImage image;
        ASSERT_NO_THROW(image = loadPicture(tree.file(name, content)));
        EXPECT_EQ(image.size(), QSize(4, 3));
        EXPECT_TRUE(near(image.pixel(1, 1), green));
    }
    // Known contents under other names are not looked at.
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("x.txt", jpeg)); }),
        "Unknown picture file extension (.txt)");
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("x.Png", encoded(square, "png"))); }),
        "Unknown picture file extension (.Png)");
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("x.WMF", "")); }),
        "Unknown picture file extension (.WMF)");
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("jpg", jpeg)); }),
        "Unknown picture file extension (.)");
}

TEST(Pictures, FileSystemErrorsCarryItsMessage)
{
    TempTree tree;
    for (const char* name : { "missing.jpg", "missing.bmp" })
        EXPECT_EQ(errorOf([&] { loadPicture(tree.path(name)); }), systemMessage(ENOENT)) << name;
    tree.dir("folder.jpg");
    tree.dir("folder.gif");
    for (const char* name : { "folder.jpg", "folder.gif" })
        EXPECT_EQ(errorOf([&] { loadPicture(tree.path(name)); }), systemMessage(EISDIR)) << name;

    const std::string path = tree.file("locked.jpg", rgbJpeg(8, 8, red, red));
    const std::string bmp
        = tree.file("locked.bmp", encoded(QImage(2, 2, QImage::Format_RGB32), "bmp"));
    ::chmod(path.c_str(), 0600);
    ::chmod(bmp.c_str(), 0600);
    const int status = runUnprivileged([&] {
        return errorOf([&] { loadPicture(path); }) == systemMessage(EACCES)
                && errorOf([&] { loadPicture(bmp); }) == systemMessage(EACCES)
            ? 0
            : 1;
    });
    if (status == 125)
        GTEST_SKIP() << "cannot drop root's privileges here";
    EXPECT_EQ(status, 0);
}

TEST(Pictures, BrokenJpegsFailWithLibjpegsMessage)
{
    TempTree tree;
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("text.jpg", "hello, world")); }),
        "Not a JPEG file: starts with 0x68 0x65");
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("empty.jpg")); }), "Empty input file");
}

TEST(Pictures, JpegCutInItsDataDecodesWithWarnings)
{
    TempTree tree;
    std::vector<unsigned char> noise;
    for (int i = 0; i < 128 * 128 * 3; ++i)
        noise.push_back(static_cast<unsigned char>((i * 7919) % 251));
    const std::string whole = jpegBytes(128, 128, 3, JCS_RGB, noise, JCS_YCbCr);
    const std::size_t scan = whole.find("\xff\xda");
    ASSERT_NE(scan, std::string::npos);
    ASSERT_LT(scan + 100, whole.size() / 2);

    QStringList warnings;
    QImage image;
    ASSERT_NO_THROW(image
        = loadPicture(tree.file("cut.jpg", whole.substr(0, whole.size() / 2)), {}, &warnings));
    EXPECT_EQ(image.size(), QSize(128, 128));
    EXPECT_TRUE(warnings.contains("Premature end of JPEG file"))
        << warnings.join("; ").toStdString();

    loadPicture(tree.file("whole.jpg", whole), {}, &warnings);
    EXPECT_TRUE(warnings.isEmpty());
}

TEST(Pictures, BrokenQtFormatsFailWithTheReadersMessage)
{
    TempTree tree;
    for (const auto& [name, content] :
        { std::pair { "bad.bmp", std::string("BM\x10\0\0\0garbage", 13) },
            { "bad.gif", std::string("GIF89a\x02\0\x02\0\x81\0\0garbage") },
            { "bad.ico", std::string("\0\0\x01\0\x01\0garbage", 13) }, { "empty.gif", "" } }) {
        EXPECT_FALSE(errorOf([&] { loadPicture(tree.file(name, content)); }).isEmpty()) << name;
    }
}

TEST(Pictures, NonUtf8PathsWork)
{
    TempTree tree;
    const std::string odd = "\xff\xfe-\xe9t\xe9";
    EXPECT_EQ(loadPicture(tree.file(odd + ".jpg", rgbJpeg(6, 4, red, red))).size(), QSize(6, 4));
    EXPECT_EQ(loadPicture(tree.file(odd + ".gif", gifBytes(3, 2, { 0, 1, 2, 0, 1, 2 }))).size(),
        QSize(3, 2));
    EXPECT_EQ(errorOf([&] { loadPicture(tree.path(odd + ".bmp")); }), systemMessage(ENOENT));
}

TEST(GifAnimator, LoadTakesTheLogicalScreenSizeAndKeepsTheCorner)
{
    TempTree tree;
    QWidget parent;
    GifAnimator animator(&parent);
    animator.setGeometry(10, 20, 50, 50);
    animator.load(tree.file("a.gif", gifBytes(3, 2, { 0, 1, 2, 2, 1, 0 })));
    EXPECT_EQ(animator.geometry(), QRect(10, 20, 3, 2));
    const QImage first = animator.picture();
    EXPECT_TRUE(near(first.pixel(0, 0), red));
    EXPECT_TRUE(near(first.pixel(1, 0), green));

    // A failed load leaves picture and size alone.
    animator.resize(40, 30);
    EXPECT_THROW(animator.load(tree.path("missing.gif")), qevra::Exception);
    EXPECT_THROW(animator.load(tree.file("bad.gif", "GIF89a\x05")), qevra::Exception);
    EXPECT_EQ(animator.picture(), first);
    EXPECT_EQ(animator.geometry(), QRect(10, 20, 40, 30));
}

TEST(GifAnimator, PaintsTheFrameStretchedOverTheParentsBackground)
{
    TempTree tree;
    QWidget parent;
    parent.resize(200, 100);
    parent.setAutoFillBackground(true);
    QPalette colours = parent.palette();
    colours.setColor(QPalette::Window, blue);
    parent.setPalette(colours);
    GifAnimator animator(&parent);
    // Were it to fill its own background, this would show.
    colours.setColor(QPalette::Window, green);
    animator.setPalette(colours);
    animator.setGeometry(10, 20, 100, 50);
    parent.show();
    // No picture yet: nothing painted.
    EXPECT_TRUE(near(parent.grab().toImage().pixel(60, 40), blue, 0));

    // Red on the left, transparent on the right.
    animator.load(tree.file("t.gif", gifBytes(2, 1, { 0, 3 }, 3)));
    ASSERT_EQ(animator.size(), QSize(2, 1));
    animator.resize(100, 50);
    const QImage shot = parent.grab().toImage();
    EXPECT_TRUE(near(shot.pixel(10 + 25, 20 + 25), red, 0));
    EXPECT_TRUE(near(shot.pixel(10 + 75, 20 + 25), blue, 0));
    EXPECT_TRUE(near(shot.pixel(10 + 2, 20 + 2), red, 0));
    EXPECT_TRUE(near(shot.pixel(10 + 97, 20 + 47), blue, 0));
}

TEST(PictureBounds, JpegsDecodeScaledDownToTheTargetNeverUp)
{
    TempTree tree;
    const std::string wide = tree.file("wide.jpg", rgbJpeg(2000, 1000, red, blue));
    const QImage fitted = loadPicture(wide, QSize(100, 80));
    ASSERT_EQ(fitted.size(), QSize(100, 80));
    EXPECT_TRUE(near(fitted.pixel(10, 40), red));
    EXPECT_TRUE(near(fitted.pixel(90, 40), blue));
    EXPECT_EQ(loadPicture(wide, QSize(500, 2000)).size(), QSize(500, 1000));
    EXPECT_EQ(loadPicture(wide, QSize(3000, 3000)).size(), QSize(2000, 1000));
    EXPECT_EQ(loadPicture(wide).size(), QSize(2000, 1000));

    // A header declaring 16000 × 16000 over a few hundred bytes: libjpeg
    // works at an eighth of that, never the 768 MB of the whole.
    const std::string declared
        = tree.file("declared.jpg", declaring(rgbJpeg(16, 16, red, red), 16000, 16000));
    EXPECT_EQ(loadPicture(declared, QSize(161, 145)).size(), QSize(161, 145));
    const long long growth = peakMemoryGrowth([&] { loadPicture(declared, QSize(161, 145)); });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 128 * MB);
}

TEST(PictureBounds, JpegsBeyondTheBoundsFailBeforeAllocating)
{
    TempTree tree;
    const std::string small = rgbJpeg(16, 16, red, red);
    const std::string huge = tree.file("huge.jpg", declaring(small, 65000, 65000));
    ASSERT_LT(readFile(huge).size(), 1024u);
    EXPECT_EQ(errorOf([&] { loadPicture(huge, QSize(161, 145)); }),
        "The picture is too large to show (65000x65000 pixels)");
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("over.jpg", declaring(small, 16384, 16385))); }),
        "The picture is too large to show (16384x16385 pixels)");

    // Within the pixel bound, but a progressive picture of four full-size
    // components needs 2 GB of coefficients: libjpeg's own bound stops it.
    std::vector<unsigned char> inks(16 * 16 * 4, 0);
    const std::string deep = tree.file("deep.jpg",
        declaring(jpegBytes(16, 16, 4, JCS_CMYK, inks, JCS_CMYK, true, true), 16384, 16384));
    EXPECT_EQ(errorOf([&] { loadPicture(deep, QSize(161, 145)); }),
        "Not enough memory for a 16384x16384 picture");

    for (const std::string& path : { huge, deep }) {
        const long long growth = peakMemoryGrowth([&] { loadPicture(path, QSize(161, 145)); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, 64 * MB) << path;
    }
}

TEST(PictureBounds, ProgressiveJpegsDecodeUpToTheScanLimit)
{
    TempTree tree;
    const std::string progressive = rgbJpeg(32, 16, red, blue, true);
    const QImage image = loadPicture(tree.file("p.jpg", progressive));
    ASSERT_EQ(image.size(), QSize(32, 16));
    EXPECT_TRUE(near(image.pixel(4, 8), red));
    EXPECT_TRUE(near(image.pixel(28, 8), blue));

    EXPECT_EQ(loadPicture(tree.file("many.jpg", withRepeatedLastScan(progressive, 400))).size(),
        QSize(32, 16));
    EXPECT_EQ(errorOf([&] {
        loadPicture(tree.file("bomb.jpg", withRepeatedLastScan(progressive, 5000)));
    }),
        "Too many scans in the JPEG file (more than 500)");
}

TEST(PictureBounds, LargeValidBmpsLoadAndShrinkToTheTarget)
{
    TempTree tree;
    // Sparse files: headers, then a hole of black pixels.
    const std::string colour = tree.file("6000.bmp", bmpHeader(6000, 6000, 24));
    growSparse(colour, off_t(bmpHeader(6000, 6000, 24).size()) + 6000LL * 18000);
    EXPECT_EQ(loadPicture(colour).size(), QSize(6000, 6000));

    const std::string grey = tree.file("16000.bmp", bmpHeader(16000, 16000, 8));
    growSparse(grey, off_t(bmpHeader(16000, 16000, 8).size()) + 16000LL * 16000);
    const QImage fitted = loadPicture(grey, QSize(161, 145));
    ASSERT_EQ(fitted.size(), QSize(161, 145));
    EXPECT_TRUE(near(fitted.pixel(80, 70), qRgb(0, 0, 0), 0));
    // The 256 MB of the decoded picture, never the 1 GB of it in 32 bits.
    const long long growth = peakMemoryGrowth([&] { loadPicture(grey, QSize(161, 145)); });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 512 * MB);

    // Stored top down: a negative height, the first row on top.
    std::string topDown = bmpHeader(2, -2, 24);
    topDown += std::string("\0\0\xff\0\0\xff\0\0", 8) + std::string("\xff\0\0\xff\0\0\0\0", 8);
    const QImage upright = loadPicture(tree.file("top-down.bmp", topDown));
    ASSERT_EQ(upright.size(), QSize(2, 2));
    EXPECT_TRUE(near(upright.pixel(0, 0), red, 0));
    EXPECT_TRUE(near(upright.pixel(0, 1), blue, 0));
}

TEST(PictureBounds, AbsurdOrHugeFilesFailFastWithBoundedMemory)
{
    TempTree tree;
    std::string screen = gifBytes(1, 1, { 0 });
    screen.replace(6, 4, "\xff\xff\xff\xff");
    const std::string gif = tree.file("screen.gif", screen);
    const QString tooLarge = "The picture is too large to show (65535x65535 pixels)";
    EXPECT_EQ(errorOf([&] { loadPicture(gif); }), tooLarge);
    GifAnimator animator(nullptr);
    EXPECT_EQ(errorOf([&] { animator.load(gif); }), tooLarge);

    // Headers alone declaring too much; a gigabyte that is no picture; a
    // small picture and then a gigabyte of anything. The readers read only
    // what they need.
    std::vector<std::string> paths { gif, tree.file("wide.bmp", bmpHeader(16385, 16384, 8)),
        tree.file("deep.bmp", bmpHeader(100000, -100000, 24)) };
    for (const char* name : { "zeros.bmp", "zeros.gif", "zeros.ico" }) {
        paths.push_back(tree.file(name));
        growSparse(paths.back(), off_t(1) << 30);
    }
    for (const std::string& path : paths)
        EXPECT_FALSE(errorOf([&] { loadPicture(path); }).isEmpty()) << path;
    paths.push_back(tree.file("tail.bmp", encoded(QImage(4, 4, QImage::Format_RGB32), "bmp")));
    growSparse(paths.back(), off_t(1) << 30);
    EXPECT_EQ(loadPicture(paths.back()).size(), QSize(4, 4));
    for (const std::string& path : paths) {
        const long long growth = peakMemoryGrowth([&] { loadPicture(path); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, 64 * MB) << path;
    }
}

TEST(PictureBounds, ProgressiveJpegsAreBoundedInWorkAndMemory)
{
    TempTree tree;
    // 16384 × 16384 grey in 500 scans, a few kilobytes: its coefficients
    // alone would take 512 MiB, and its scans 2 billion blocks.
    const std::string grey = gradientJpeg(16, 16, 1);
    const std::string huge
        = tree.file("huge.jpg", withRepeatedLastScan(declaring(grey, 16384, 16384), 500 - 6));
    ASSERT_LT(readFile(huge).size(), 16 * 1024u);
    EXPECT_EQ(errorOf([&] { loadPicture(huge, QSize(161, 145)); }),
        "Not enough memory for a 16384x16384 picture");

    // 4096 × 4096 fits in memory, but 500 scans of its 262144 blocks are too
    // much work: it stops at the scan that goes over.
    const std::string many
        = tree.file("many.jpg", withRepeatedLastScan(gradientJpeg(4096, 4096, 1), 500 - 6));
    EXPECT_EQ(errorOf([&] { loadPicture(many, QSize(161, 145)); }),
        QStringLiteral(
            "The JPEG file takes too much work to decode (%1 scans of a 4096x4096 picture)")
            .arg(kMaxJpegBlocks / (512 * 512) + 1));

    for (const auto& [path, bound] : { std::pair { huge, 64 * MB }, { many, 100 * MB } }) {
        const long long growth = peakMemoryGrowth([&] { loadPicture(path, QSize(161, 145)); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, bound) << path;
    }
}

TEST(PictureBounds, LargeProgressivePhotosStillLoad)
{
    TempTree tree;
    // 48 megapixels in 4:2:0, its ten scans and five more: 137 MiB of
    // coefficients and some 10 million blocks decoded.
    const std::string photo
        = tree.file("photo.jpg", withRepeatedLastScan(gradientJpeg(8000, 6000, 3), 5));
    QImage image;
    const long long growth = peakMemoryGrowth([&] { image = loadPicture(photo, QSize(161, 145)); });
    ASSERT_EQ(image.size(), QSize(161, 145));
    EXPECT_TRUE(near(image.pixel(0, 0), qRgb(0, 0, 128), 16));
    EXPECT_TRUE(near(image.pixel(160, 144), qRgb(255, 255, 128), 16));
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 200 * MB);
}

TEST(PictureBounds, GifsBeyondTheirBoundFailBeforeDecoding)
{
    TempTree tree;
    // A logical screen of 16383 × 16383: 1 GiB to Qt's reader.
    const std::string screen = tree.file("screen.gif", gifDeclaring(16383, 16383));
    ASSERT_LT(readFile(screen).size(), 64u);
    // No logical screen: Qt's reader takes the first frame's extent.
    std::string frameBytes = gifOf(QSize(0, 0), QRect(0, 0, 1, 1), [](int, int) { return 0; });
    frameBytes.replace(13 + 12 + 5, 4, "\xff\x3f\xff\x3f", 4);
    const std::string frame = tree.file("frame.gif", frameBytes);
    const std::string shifted = tree.file(
        "shifted.gif", gifOf(QSize(0, 0), QRect(60000, 60000, 2, 2), [](int, int) { return 1; }));
    GifAnimator animator(nullptr);
    for (const auto& [path, message] :
        { std::pair { screen, "The picture is too large to show (16383x16383 pixels)" },
            { frame, "The picture is too large to show (16383x16383 pixels)" },
            { shifted, "The picture is too large to show (60002x60002 pixels)" } }) {
        EXPECT_EQ(errorOf([&] { loadPicture(path, QSize(161, 145)); }), message) << path;
        EXPECT_EQ(errorOf([&] { animator.load(path); }), message) << path;
        const long long growth = peakMemoryGrowth([&] { animator.load(path); });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, 32 * MB) << path;
    }

    // Up to the bound a GIF loads; one row more is refused.
    const std::string largest = tree.file("largest.gif", gifDeclaring(4096, 4096));
    EXPECT_EQ(loadPicture(largest, QSize(161, 145)).size(), QSize(161, 145));
    EXPECT_EQ(errorOf([&] { loadPicture(tree.file("over.gif", gifDeclaring(4096, 4097))); }),
        "The picture is too large to show (4096x4097 pixels)");
    const std::string small = tree.file(
        "small.gif", gifOf(QSize(0, 3), QRect(1, 0, 2, 3), [](int x, int) { return x + 1; }));
    const QImage picture = loadPicture(small);
    ASSERT_EQ(picture.size(), QSize(3, 3));
    EXPECT_TRUE(near(picture.pixel(2, 1), blue, 0));
}

TEST(GifAnimator, KeepsOnlyWhatCanBeSeenAndLooksTheSame)
{
    TempTree tree;
    // A 600 × 400 screen with a fine pattern, a quarter of it transparent,
    // whose stretching shows every pixel's place.
    const std::string path = tree.file("pattern.gif",
        gifOf(
            QSize(600, 400), QRect(0, 0, 600, 400),
            [](int x, int y) { return (x / 3 + y / 2 + x * y % 7) % 4; }, 3));
    const QImage frame = loadGif(path).firstFrame;
    ASSERT_EQ(frame.size(), QSize(600, 400));

    // In a 200 × 100 window, an animator at (10, 20) shows 190 × 80 of it
    // from its corner on; one at (-50, -30), 200 × 100 from (50, 30) on.
    const auto shown = window(QSize(200, 100), green);
    const auto whole = window(QSize(200, 100), green);
    for (const auto& [corner, seen] :
        { std::pair { QPoint(10, 20), QSize(190, 80) }, { QPoint(-50, -30), QSize(200, 100) } }) {
        GifAnimator animator(shown.get());
        animator.move(corner);
        animator.load(path);
        EXPECT_EQ(animator.size(), QSize(600, 400));
        EXPECT_EQ(animator.picture().size(), seen * animator.devicePixelRatioF());
        WholeFrame reference(whole.get(), frame);
        reference.setGeometry(animator.geometry());
        EXPECT_EQ(shown->grab().toImage(), whole->grab().toImage()) << corner.x();
    }

    // Shrunk after the load, what was seen is the same stretched; what lay
    // out of sight then stays blank.
    GifAnimator animator(shown.get());
    animator.move(10, 20);
    animator.load(path);
    animator.resize(90, 60);
    WholeFrame reference(whole.get(), frame);
    reference.setGeometry(animator.geometry());
    EXPECT_EQ(
        shown->grab().toImage().copy(10, 20, 28, 12), whole->grab().toImage().copy(10, 20, 28, 12));

    // Out of its window's sight nothing is kept, unless the window will grow
    // to show it: then it looks as the whole frame would.
    const auto narrow = window(QSize(100, 100), green);
    GifAnimator unseen(narrow.get());
    unseen.move(110, 20);
    unseen.load(path);
    EXPECT_TRUE(unseen.picture().isNull());
    unseen.hide();
    GifAnimator told(narrow.get());
    told.move(110, 20);
    told.setViewArea(QRect(0, 0, 300, 100));
    told.load(path);
    narrow->resize(300, 100);
    const auto wide = window(QSize(300, 100), green);
    WholeFrame wideReference(wide.get(), frame);
    wideReference.setGeometry(told.geometry());
    EXPECT_EQ(narrow->grab().toImage(), wide->grab().toImage());
}

TEST(GifAnimator, TwoHugeGifsStayWithinMemory)
{
    TempTree tree;
    // The two animators of the open copies editor.
    const auto shown = window(QSize(830, 356), green);
    GifAnimator first(shown.get());
    first.move(656, 40);
    GifAnimator second(shown.get());
    second.move(658, 208);
    const std::string huge1 = tree.file("a.gif", gifDeclaring(16383, 16383));
    const std::string huge2 = tree.file("b.gif", gifDeclaring(16383, 16383));
    const long long refused = peakMemoryGrowth([&] {
        EXPECT_FALSE(errorOf([&] { first.load(huge1); }).isEmpty());
        EXPECT_FALSE(errorOf([&] { second.load(huge2); }).isEmpty());
    });
    EXPECT_GE(refused, 0);
    EXPECT_LT(refused, 32 * MB);

    // Within the bound each is decoded whole for a moment, then kept at the
    // size of its part of the window: 174 × 316 and 172 × 148.
    first.load(tree.file("c.gif", gifDeclaring(4096, 4096)));
    second.load(tree.file("d.gif", gifDeclaring(4000, 4000)));
    EXPECT_EQ(first.size(), QSize(4096, 4096));
    EXPECT_EQ(second.size(), QSize(4000, 4000));
    const qreal ratio = first.devicePixelRatioF();
    EXPECT_EQ(first.picture().size(), QSize(174, 316) * ratio);
    EXPECT_EQ(second.picture().size(), QSize(172, 148) * ratio);
}
