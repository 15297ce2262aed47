#include "editor/copies_editor.h"

#include "controls/palette.h"
#include "controls/placement.h"
#include "platform/fonts.h"

#include <QCloseEvent>
#include <QFile>
#include <QResizeEvent>

namespace qevra {

QString shownPath(std::string_view path)
{
    return QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
}

void PathLabel::setPath(std::string_view path)
{
    path_ = std::string(path);
    setCaption(shownPath(path));
}

void PathLabel::setMarker(const QString& marker)
{
    path_.reset();
    setCaption(marker);
}

TForm2::TForm2(
    search::Results& results, QWidget* mainWindow, platform::Services& services, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , results_(results)
    , mainWindow_(mainWindow)
    , services_(services)
{
    setWindowTitle(QStringLiteral("Редактор копий"));
    setFixedSize(654, 356);
    move(219, 152);
    // Moved onto the screen where it would run off it, as the preview panel
    // widens it too.
    controls::keepOnScreen(*this);
    setFont(platform::windowFont(11));
    // The name lists have the window's colour too: the palette's base.
    controls::keepProgramColours(*this);

    using controls::Label;
    using controls::TxpButton;
    auto label = [this](const QString& text, int left, int top) {
        auto* made = new Label(text, this);
        made->move(left, top);
        return made;
    };
    auto button = [this](const QString& text, int left, int top, int width) {
        auto* made = new TxpButton(text, this);
        made->setGeometry(left, top, width, 25);
        return made;
    };

    Label1 = label(QStringLiteral("Label1"), 24, 8);
    Label2 = label(QStringLiteral("0"), 456, 0);
    Label2->hide();
    Label3 = new PathLabel(kEmptyMarker, this);
    Label3->move(32, 22);
    Label4 = new PathLabel(kEmptyMarker, this);
    Label4->move(32, 44);
    Label5 = label(QStringLiteral("Просмотр 1 из "), 224, 2);
    Image1 = new controls::PictureBox(this);
    Image1->setGeometry(656, 40, 161, 145);
    Image2 = new controls::PictureBox(this);
    Image2->setGeometry(658, 208, 159, 145);
    Label6 = label(QStringLiteral("Label6"), 328, 0);
    Label6->hide();
    MediaPlayer1 = new platform::MediaPlayer(this);
    fsListBox1 = new controls::TfsListBox(this);
    names1_ = new NameListRows(results.first, fsListBox1);
    fsListBox1->setGeometry(16, 104, 297, 199);
    fsListBox1->setIntegralHeight(true);
    fsListBox1->setCursor(Qt::PointingHandCursor);
    RxGIFAnimator1 = new platform::GifAnimator(this);
    RxGIFAnimator1->setGeometry(656, 40, 161, 145);
    RxGIFAnimator2 = new platform::GifAnimator(this);
    RxGIFAnimator2->setGeometry(658, 208, 159, 145);
    fsListBox2 = new controls::TfsListBox(this);
    names2_ = new NameListRows(results.second, fsListBox2);
    fsListBox2->setGeometry(336, 104, 310, 199);
    fsListBox2->setEnabled(false);
    Label7 = label(QStringLiteral("1-ый файл из пары копий"), 16, 72);
    Label8 = label(QStringLiteral("2-ой файл из пары копий"), 352, 74);
    Label9 = label(kOpenHint, 320, 336);
    // What a screen reader says of the lists and the path labels: the
    // headings above the lists, and whose path a label shows.
    fsListBox1->setAccessibleName(Label7->caption());
    fsListBox2->setAccessibleName(Label8->caption());
    Label3->setAccessibleTitle(QStringLiteral("Путь 1-го файла"));
    Label4->setAccessibleTitle(QStringLiteral("Путь 2-го файла"));
    xpButton1 = button(QStringLiteral("Открыть"), 24, 304, 75);
    xpButton2 = button(QStringLiteral("Удалить"), 104, 304, 75);
    xpButton3 = button(QStringLiteral("Удалить все"), 184, 304, 89);
    xpButton4 = button(QStringLiteral("Открыть"), 360, 304, 75);
    xpButton5 = button(QStringLiteral("Удалить"), 440, 304, 75);
    xpButton6 = button(QStringLiteral("Удалить все"), 520, 304, 83);
    // The buttons of both columns share their captions: their descriptions
    // say which file each acts on.
    const QString firstFile = Label7->caption();
    const QString secondFile = Label8->caption();
    xpButton1->setAccessibleDescription(QStringLiteral("Открыть ") + firstFile);
    xpButton2->setAccessibleDescription(QStringLiteral("Удалить ") + firstFile);
    xpButton3->setAccessibleDescription(QStringLiteral("Удалить все 1-ые файлы из пар копий"));
    xpButton4->setAccessibleDescription(QStringLiteral("Открыть ") + secondFile);
    xpButton5->setAccessibleDescription(QStringLiteral("Удалить ") + secondFile);
    xpButton6->setAccessibleDescription(QStringLiteral("Удалить все 2-ые файлы из пар копий"));
    Label10 = label(QStringLiteral("1-ый файл из пары копий"), 656, 24);
    Label11 = label(QStringLiteral("2-ой файл из пары копий"), 656, 194);
    fsbitbtn4 = button(QStringLiteral(">>>"), 608, 328, 43);
    Button3 = button(QStringLiteral("Остановить"), 736, 240, 75);
    Button1 = button(QStringLiteral("Проиграть"), 656, 240, 75);
    Button6 = button(QStringLiteral("Остановить"), 736, 80, 75);
    Button5 = button(QStringLiteral("Проиграть"), 656, 80, 75);
    // The toggle's arrows say nothing to a screen reader: its name says
    // what a press does (the preview panel names it anew as it opens).
    fsbitbtn4->setAccessibleName(QStringLiteral("Показать просмотр"));
    Button5->setAccessibleDescription(QStringLiteral("Проиграть ") + firstFile);
    Button1->setAccessibleDescription(QStringLiteral("Проиграть ") + secondFile);
    for (TxpButton* stop : { Button6, Button3 })
        stop->setAccessibleDescription(QStringLiteral("Остановить проигрывание"));

    QWidget* order[] = { fsListBox1, fsListBox2, xpButton1, xpButton2, xpButton3, xpButton4,
        xpButton5, xpButton6, fsbitbtn4, Button3, Button1, Button6, Button5 };
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(fsListBox1, &controls::TfsListBox::userSelected, this, [this] { fsListBox1Click(); });
    const std::pair<controls::TxpButton*, void (TForm2::*)()> handlers[] = {
        { xpButton1, &TForm2::xpButton1Click },
        { xpButton2, &TForm2::xpButton2Click },
        { xpButton3, &TForm2::xpButton3Click },
        { xpButton4, &TForm2::xpButton4Click },
        { xpButton5, &TForm2::xpButton5Click },
        { xpButton6, &TForm2::xpButton6Click },
        { fsbitbtn4, &TForm2::fsbitbtn4Click },
        { Button5, &TForm2::Button5Click },
        { Button1, &TForm2::Button1Click },
        { Button6, &TForm2::Button6Click },
        { Button3, &TForm2::Button3Click },
    };
    for (const auto& [control, handler] : handlers) {
        control->OnClick = [this, handler = handler](QObject*) { (this->*handler)(); };
        control->setButtonFont(platform::windowFont(11));
    }
    makeNameListMenu();
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!control->isWindow() && control->focusPolicy() != Qt::NoFocus)
            focusPolicies_.emplace_back(control, control->focusPolicy());
    keepFocusInView();
}

TForm2::~TForm2() = default;

void TForm2::clearNameLists()
{
    shownPair_.reset();
    names1_->clear();
    names2_->clear();
}

void TForm2::appendRowNames()
{
    names1_->appendFromColumn();
    names2_->appendFromColumn();
}

void TForm2::showResults(
    std::optional<std::size_t> count, std::optional<PreviewKind> kind, bool setsPreviewToggle)
{
    if (count)
        Label1->setCaption(
            QStringLiteral("Всего найденных дубликатов - ") + QString::number(*count));
    if (kind)
        Label6->setCaption(previewKindText(*kind));
    clearNameLists();
    appendRowNames();
    if (setsPreviewToggle) {
        fsbitbtn4->hide();
        Label9->hide();
        if (previewKind())
            fsbitbtn4->show();
    }
}

std::optional<PreviewKind> TForm2::previewKind() const
{
    return previewKindOf(Label6->caption());
}

void TForm2::FormShow()
{
    const int shownPair = Label2->caption().toInt() + 1;
    Label5->setCaption(
        QStringLiteral("Просмотр %1 из %2").arg(shownPair).arg(results_.first.size()));
    Label9->hide();
}

void TForm2::fsListBox1Click()
{
    const std::int64_t selected = fsListBox1->selectedRow();
    // Without a selected row there is no pair to show.
    if (selected < 0 || std::uint64_t(selected) >= results_.first.size()
        || std::uint64_t(selected) >= results_.second.size())
        return;
    const auto pair = std::uint64_t(selected);
    Image1->show();
    Image2->show();
    fsListBox2->selectRow(selected);
    shownPair_ = pair;
    Label3->setPath(results_.first[pair]);
    Label4->setPath(results_.second[pair]);
    Label5->setCaption(QStringLiteral("Просмотр %1 из %2").arg(pair + 1).arg(names1_->count()));
    fs::FileSystem& files = services_.fileSystem;
    if (!files.fileExists(std::string(results_.first[pair])))
        Label3->setMarker(kDeletedMarker);
    if (!files.fileExists(std::string(results_.second[pair])))
        Label4->setMarker(kDeletedMarker);
    if (previewKind() == PreviewKind::Pictures)
        loadPictures(pair);
}

void TForm2::FormClose()
{
    shownPair_.reset();
    Label3->setMarker(kEmptyMarker);
    Label4->setMarker(kEmptyMarker);
    Image1->hide();
    Image2->hide();
    RxGIFAnimator1->hide();
    RxGIFAnimator2->hide();
    names1_->clear();
    if (mainWindow_)
        mainWindow_->show();
}

void TForm2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm2::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TForm2::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    keepFocusInView();
}

void TForm2::keepFocusInView()
{
    // The preview panel's controls lie beyond the closed panel's edge:
    // Tab would land on buttons nobody can see.
    for (const auto& [control, policy] : focusPolicies_) {
        const bool inView = control->geometry().intersects(rect());
        control->setFocusPolicy(inView ? policy : Qt::NoFocus);
        if (!inView && focusWidget() == control)
            focusNextChild();
    }
}

} // namespace qevra
