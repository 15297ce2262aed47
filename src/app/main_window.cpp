#include "app/main_window.h"

#include "about/about_box.h"
#include "app/stop_flag.h"
#include "controls/palette.h"
#include "controls/placement.h"
#include "editor/copies_editor.h"
#include "platform/fonts.h"
#include "platform/services.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>

namespace qevra {

namespace {

QString shown(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The extension box's items, in the order the list shows them.
const QStringList kExtensions = {
    "avi",
    "bmp",
    "doc",
    "exe",
    "gif",
    "htm",
    "html",
    "jpeg",
    "jpg",
    "lnk",
    "mid",
    "mp3",
    "mpeg",
    "mpg",
    "rar",
    "txt",
    "zip",
    kVideoGroup,
    kPicturesGroup,
};

} // namespace

TForm1::TForm1(platform::Services& services, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , services_(services)
{
    setWindowTitle(QStringLiteral("Qevra"));
    setFixedSize(495, 140);
    move(252, 141);
    controls::keepOnScreen(*this);
    setFont(platform::windowFont(11));
    controls::keepProgramColours(*this);
    setMouseTracking(true);

    using controls::Label;
    using controls::TxpButton;
    using controls::TxpCheckBox;

    xpButton1 = new TxpButton(QStringLiteral("Выбрать каталог"), this);
    xpButton1->setGeometry(8, 8, 105, 25);
    xpButton2 = new TxpButton(QStringLiteral("Добавить каталог"), this);
    xpButton2->setGeometry(120, 8, 129, 25);
    xpButton3 = new TxpButton(QStringLiteral("Искать копии"), this);
    xpButton3->setGeometry(256, 8, 121, 25);
    xpButton4 = new TxpButton(QStringLiteral("О программе"), this);
    xpButton4->setGeometry(392, 8, 91, 25);
    Label3 = new Label(QStringLiteral("Текущий каталог"), this);
    Label3->move(8, 40);
    Label2 = new Label(kNoDirectory, this);
    Label2->move(120, 40);
    Label2->setMouseTracking(true);
    Label4 = new Label(QStringLiteral("Расширение файлов"), this);
    Label4->move(8, 60);
    proComboBox1 = new controls::TfsComboBox(this);
    proComboBox1->setGeometry(120, 56, 153, 21);
    proComboBox1->addItems(kExtensions);
    proComboBox1->setMaxVisibleItems(8);
    proComboBox1->setCurrentIndex(-1);
    proComboBox1->setEditText(QString());
    // The box's drop-down button takes the window colour as well.
    QPalette boxColours = proComboBox1->palette();
    boxColours.setColor(QPalette::Button, controls::windowColour());
    proComboBox1->setPalette(boxColours);
    fsBitBtn4 = new TxpButton(QStringLiteral("Стоп"), this);
    fsBitBtn4->setGeometry(280, 54, 77, 22);
    Label5 = new Label(QStringLiteral("Критерии"), this);
    Label5->move(8, 80);
    checkbox1 = new TxpCheckBox(QStringLiteral("По содержанию"), this);
    checkbox1->setGeometry(120, 80, 105, 17);
    CheckBox2 = new TxpCheckBox(QStringLiteral("По имени"), this);
    CheckBox2->setGeometry(232, 80, 81, 17);
    CheckBox3 = new TxpCheckBox(QStringLiteral("По размеру"), this);
    CheckBox3->setGeometry(312, 80, 97, 17);
    ProgressBar1 = new controls::ProgressBar(this);
    ProgressBar1->setGeometry(8, 104, 473, 15);
    ProgressBar1->setMouseTracking(true);
    // Docked at the bottom edge, as high as the tooltip font needs.
    StatusBar1 = new controls::StatusBar(this);
    StatusBar1->setMouseTracking(true);

    // Names for screen readers where no text of the control says what it is.
    Label2->setAccessibleTitle(Label3->caption());
    proComboBox1->setAccessibleName(Label4->caption());
    proComboBox1->lineEdit()->setAccessibleName(Label4->caption());
    ProgressBar1->setAccessibleName(QStringLiteral("Ход поиска"));

    setTabOrder(proComboBox1, xpButton1);
    setTabOrder(xpButton1, xpButton2);
    setTabOrder(xpButton2, xpButton3);
    setTabOrder(xpButton3, xpButton4);
    setTabOrder(xpButton4, fsBitBtn4);
    setTabOrder(fsBitBtn4, checkbox1);
    setTabOrder(checkbox1, CheckBox2);
    setTabOrder(CheckBox2, CheckBox3);

    Label2->installEventFilter(this);
    ProgressBar1->installEventFilter(this);
    StatusBar1->installEventFilter(this);

    xpButton1->OnClick = [this](QObject*) { xpButton1Click(); };
    xpButton2->OnClick = [this](QObject*) { xpButton2Click(); };
    xpButton3->OnClick = [this](QObject*) { xpButton3Click(); };
    xpButton4->OnClick = [this](QObject*) { xpButton4Click(); };
    fsBitBtn4->OnClick = [this](QObject*) { xpButton5Click(); };
    checkbox1->OnClick = [this](QObject*) { checkbox1Click(); };
    CheckBox2->OnClick = [this](QObject*) { xpCheckBox1Click(); };
    CheckBox3->OnClick = [this](QObject*) { xpCheckBox2Click(); };
    for (controls::TxpCheckBox* box : { checkbox1, CheckBox2, CheckBox3 }) {
        box->setColor(controls::windowColour());
        box->setBoxFont(platform::windowFont(11));
        box->setCursor(Qt::PointingHandCursor);
    }
    for (controls::TxpButton* button : { xpButton1, xpButton2, xpButton3, xpButton4, fsBitBtn4 })
        button->setButtonFont(platform::windowFont(11));

    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::setPeers(TForm2* form2, TAboutBox* aboutBox)
{
    form2_ = form2;
    aboutBox_ = aboutBox;
}

void TForm1::FormCreate()
{
    StopFlag = 0;
}

void TForm1::FormMouseMove()
{
    StatusBar1->setText(QStringLiteral(" "));
}

void TForm1::Label2MouseMove()
{
    StatusBar1->setText(QStringLiteral("   Имя каталога, в котором будет произведен поиск копий"));
}

void TForm1::ProgressBar1MouseMove()
{
    StatusBar1->setText(QStringLiteral("   Тут будет отображаться процесс поиска файлов"));
}

void TForm1::StatusBar1MouseMove()
{
    StatusBar1->setText(QStringLiteral("   Здесь отображаются все действия программы"));
}

void TForm1::xpButton1Click()
{
    if (const auto chosen = services_.folders.browse(this, folderDialog1Caption))
        chooseMainDirectory(*chosen);
}

void TForm1::xpButton2Click()
{
    if (Label2->caption() == kNoDirectory) {
        services_.ShowMessage(QStringLiteral("Выберите основной каталог"));
        return;
    }
    if (const auto chosen = services_.folders.browse(this, folderDialog1Caption))
        addDirectory(*chosen);
}

void TForm1::chooseMainDirectory(const std::string& dir)
{
    Label2->setCaption(shown(dir));
    ListBox4.clear();
    ListBox4.append(dir);
}

void TForm1::addDirectory(const std::string& dir)
{
    Label2->setCaption(Label2->caption() + QStringLiteral(" + ") + shown(dir));
    ListBox4.append(dir);
}

void TForm1::xpButton4Click()
{
    if (!aboutBox_)
        return;
    aboutBox_->show();
    aboutBox_->raise();
    aboutBox_->activateWindow();
}

void TForm1::xpButton5Click()
{
    StopFlag = kStopSet;
}

void TForm1::checkbox1Click()
{
    const bool unchecked = !checkbox1->isChecked();
    CheckBox2->setEnabled(unchecked);
    CheckBox3->setEnabled(unchecked);
}

void TForm1::xpCheckBox1Click()
{
    const bool unchecked = !CheckBox2->isChecked();
    checkbox1->setEnabled(unchecked);
    CheckBox3->setEnabled(unchecked);
}

void TForm1::xpCheckBox2Click()
{
    const bool unchecked = !CheckBox3->isChecked();
    CheckBox2->setEnabled(unchecked);
    checkbox1->setEnabled(unchecked);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (searching()) {
        // The window stays until the running search returns; boxes it opens
        // meanwhile close at once, and then the program ends.
        endAfterSearch_ = true;
        services_.setEnding(true);
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

void TForm1::mouseMoveEvent(QMouseEvent* event)
{
    // Moves over a child without a hint of its own reach the window too;
    // only the bare window area has the hint.
    if (!childAt(event->position().toPoint()))
        FormMouseMove();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == Label2)
            Label2MouseMove();
        else if (watched == ProgressBar1)
            ProgressBar1MouseMove();
        else if (watched == StatusBar1)
            StatusBar1MouseMove();
        else
            return QWidget::eventFilter(watched, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qevra
