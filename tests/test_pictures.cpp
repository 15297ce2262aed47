// Picture decoding (libjpeg for JPEG, Qt's readers for BMP, GIF and ICO) and
// the still GIF widget, on picture files the tests write themselves.
#include "base/exceptions.h"
#include "platform/gif_animator.h"
#include "platform/picture_loader.h"
#include "support/errors.h"
#include "support/media_files.h"
#include "support/temp_tree.h"

#include <QBuffer>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include <jpeglib.h>

using qevra::platform::GifAnimator;
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
