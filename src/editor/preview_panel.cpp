// The preview panel beside the copies editor's lists: the toggle that
// widens the window, the two pictures of the chosen pair, and playing the
// pair's sound or video files.
#include "editor/copies_editor.h"
#include "platform/picture_loader.h"

#include <QFile>

namespace qevra {

namespace {
constexpr int kSteps = 44;
constexpr int kStepWidth = 4;
} // namespace

void TForm2::fsbitbtn4Click()
{
    const std::optional<PreviewKind> kind = previewKind();
    if (kind == PreviewKind::Pictures) {
        for (QWidget* button : { Button5, Button6, Button3, Button1 })
            button->hide();
        for (QWidget* picture :
            std::initializer_list<QWidget*> { Image1, Image2, RxGIFAnimator1, RxGIFAnimator2 })
            picture->show();
        Label9->show();
    } else if (kind == PreviewKind::Media) {
        for (QWidget* button : { Button5, Button6, Button3, Button1 })
            button->show();
        Label9->show();
        Image1->hide();
        Image2->hide();
    } else {
        // Without a preview kind there is nothing to show: nothing changes.
        return;
    }
    const bool opening = fsbitbtn4->text() == QStringLiteral(">>>");
    // The steps run back to back, without letting other events in.
    for (int step = 0; step < kSteps; ++step) {
        setFixedWidth(width() + (opening ? kStepWidth : -kStepWidth));
        fsbitbtn4->setText(opening ? QStringLiteral("<<<") : QStringLiteral(">>>"));
        Label9->setCaption(opening ? kCloseHint : kOpenHint);
    }
    fsbitbtn4->setAccessibleName(
        opening ? QStringLiteral("Скрыть просмотр") : QStringLiteral("Показать просмотр"));
}

void TForm2::loadPictures(std::size_t pair)
{
    loadPicture(column1(), pair);
    loadPicture(column2(), pair);
}

void TForm2::loadPicture(const Column& column, std::size_t pair)
{
    if (column.label->caption() == kDeletedMarker) {
        column.picture->hide();
        return;
    }
    // The routing looks at the fourth-, third- and second-last characters:
    // only a name ending in "gif" and one more character goes to the
    // animator; ".gif" itself goes to the picture box like the others.
    const QString shown = column.label->caption();
    const qsizetype length = shown.size();
    if (length >= 4 && shown.mid(length - 4, 3) == QStringLiteral("gif")) {
        // The animator keeps only what can be seen of the picture: within the
        // window as wide as the open panel makes it, open or not yet.
        const bool closed = fsbitbtn4->text() == QStringLiteral(">>>");
        column.animator->setViewArea(
            QRect(0, 0, width() + (closed ? kSteps * kStepWidth : 0), height()));
        column.animator->load(column.label->path().value_or(std::string()));
        return;
    }
    // Decoded no larger than the box shows it on this screen.
    const QSize box = column.picture->size() * column.picture->devicePixelRatioF();
    column.picture->setPicture(platform::loadPicture(std::string(column.list[pair]), box));
}

void TForm2::Button5Click()
{
    play(column1());
}
void TForm2::Button1Click()
{
    play(column2());
}
void TForm2::Button6Click()
{
    stopPlaying();
}
void TForm2::Button3Click()
{
    stopPlaying();
}

void TForm2::play(const Column& column)
{
    if (column.label->caption() == kDeletedMarker)
        return;
    // "Пусто" names no file: the player reports that it cannot open it.
    const auto& path = column.label->path();
    MediaPlayer1->setFileName(
        path ? *path : QFile::encodeName(column.label->caption()).toStdString());
    MediaPlayer1->open();
    MediaPlayer1->play();
}

void TForm2::stopPlaying()
{
    MediaPlayer1->stop();
    MediaPlayer1->close();
}

} // namespace qevra
