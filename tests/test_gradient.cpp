// The banded gradient fill, pixel by pixel.
#include "controls/gradient.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace qevra::controls;

namespace {

QImage filled(int width, int height, int left, int top, int right, int bottom, QColor start,
    QColor end, GradientDirection direction, int steps)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    gradientFill(painter, left, top, right, bottom, start, end, direction, steps);
    return image;
}

const QColor kLight(253, 253, 253);
const QColor kDark(205, 204, 223);

} // namespace

TEST(GradientFill, ButtonFaceBandsTopToBottom)
{
    // A 25-pixel button: 8 bands of 2 rows from row 4, row 20 in the dark end.
    const QImage image
        = filled(30, 25, 4, 4, 26, 21, kLight, kDark, GradientDirection::TopToBottom, 8);
    const QColor bands[]
        = { { 253, 253, 253 }, { 246, 246, 249 }, { 239, 239, 244 }, { 232, 232, 240 },
              { 226, 225, 236 }, { 219, 218, 232 }, { 212, 211, 227 }, { 205, 204, 223 } };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(image.pixelColor(10, 4 + 2 * i), bands[i]) << "band " << i;
        EXPECT_EQ(image.pixelColor(10, 5 + 2 * i), bands[i]) << "band " << i;
    }
    EXPECT_EQ(image.pixelColor(10, 20), kDark);
    // Nothing outside the rectangle.
    EXPECT_EQ(image.pixelColor(10, 3), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(10, 21), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(3, 10), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(26, 10), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(25, 10), bands[3]);
}

TEST(GradientFill, PressedFaceRunsBottomToTopWithTheRestInTheStartColour)
{
    const QImage image
        = filled(30, 25, 4, 4, 26, 21, kLight, kDark, GradientDirection::BottomToTop, 12);
    EXPECT_EQ(image.pixelColor(10, 4), kDark);
    EXPECT_EQ(image.pixelColor(10, 5), QColor(209, 208, 226));
    EXPECT_EQ(image.pixelColor(10, 15), kLight);
    for (int row = 16; row <= 20; ++row)
        EXPECT_EQ(image.pixelColor(10, row), kLight);
}

TEST(GradientFill, HorizontalDirectionsFewStepsAndEmptyRectangles)
{
    const QImage across = filled(
        10, 4, 0, 0, 10, 4, QColor(0, 0, 0), QColor(90, 30, 9), GradientDirection::LeftToRight, 4);
    EXPECT_EQ(across.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(across.pixelColor(2, 3), QColor(30, 10, 3));
    EXPECT_EQ(across.pixelColor(7, 0), QColor(90, 30, 9));
    EXPECT_EQ(across.pixelColor(9, 0), QColor(90, 30, 9)); // the rest
    const QImage back = filled(
        10, 4, 0, 0, 10, 4, QColor(0, 0, 0), QColor(90, 30, 9), GradientDirection::RightToLeft, 4);
    EXPECT_EQ(back.pixelColor(0, 0), QColor(90, 30, 9));
    EXPECT_EQ(back.pixelColor(9, 0), QColor(0, 0, 0)); // the rest in the start colour

    const QImage flat = filled(6, 6, 1, 1, 5, 5, QColor(1, 2, 3), QColor(200, 200, 200),
        GradientDirection::TopToBottom, 1);
    EXPECT_EQ(flat.pixelColor(1, 4), QColor(1, 2, 3));
    EXPECT_EQ(flat.pixelColor(0, 0), QColor(Qt::black));

    const QImage none = filled(
        6, 6, 4, 4, 4, 6, QColor(1, 2, 3), QColor(9, 9, 9), GradientDirection::TopToBottom, 10);
    EXPECT_EQ(none.pixelColor(4, 4), QColor(Qt::black));
}

TEST(GradientFill, HalvesRoundAwayFromZero)
{
    EXPECT_EQ(gradientComponent(0, 3, 1, 3), 2); // 1.5 → 2
    EXPECT_EQ(gradientComponent(10, -3, 1, 3), 8); // 10 − 1.5 → 8
    EXPECT_EQ(gradientComponent(253, -48, 1, 8), 246);
}
