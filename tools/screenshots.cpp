// Renders the main window, the copies editor with pairs (preview panel closed
// and open) and the About box offscreen into PNG files:
//
//   qevra-screenshots OUTPUT_DIR
//
// The pairs come from a real search of a small tree of pictures made here.
#include "app/startup.h"
#include "platform/application.h"
#include "platform/services.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

// No box opens while the windows are rendered.
class QuietBoxes : public qevra::platform::MessageBoxes {
public:
    void showMessage(const QString&) override { }
    void showError(const QString& text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};

// Answers the folder dialog with one directory.
class OneFolder : public qevra::platform::FolderBrowser {
public:
    explicit OneFolder(std::string dir)
        : dir_(std::move(dir))
    {
    }
    std::optional<std::string> browse(QWidget*, const QString&) override { return dir_; }

private:
    std::string dir_;
};

QImage picture(QColor top, QColor bottom)
{
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 0, 120);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(QColor(255, 255, 255, 160));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(80, 60), 36, 36);
    return image;
}

bool save(QWidget& window, const QDir& out, const char* name)
{
    const QString path = out.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qevra::Application application(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;

    QTemporaryDir tree;
    const QDir root(tree.path());
    for (const char* dir : { "Отпуск", "Архив/2025", "Телефон" })
        root.mkpath(QString::fromUtf8(dir));
    const QImage sea = picture(QColor(70, 140, 220), QColor(240, 220, 160));
    const QImage forest = picture(QColor(40, 120, 60), QColor(200, 230, 150));
    sea.save(root.filePath(QStringLiteral("Отпуск/море.jpg")), "JPG");
    sea.save(root.filePath(QStringLiteral("Архив/2025/море.jpg")), "JPG");
    forest.save(root.filePath(QStringLiteral("Отпуск/лес.jpg")), "JPG");
    forest.save(root.filePath(QStringLiteral("Телефон/лес.jpg")), "JPG");

    QuietBoxes boxes;
    OneFolder folder(QFile::encodeName(tree.path()).toStdString());
    qevra::platform::Services services(
        qevra::fs::realFileSystem(), boxes, folder, qevra::platform::realServices().desktop);
    qevra::Application::setServices(&services);

    qevra::Program program(services);
    qevra::TForm1& main = program.Form1;
    main.show();
    main.xpButton1Click();
    main.proComboBox1->setEditText(QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    main.checkbox1->setChecked(true);
    main.checkbox1Click();
    main.StatusBar1->setText(QStringLiteral("   Здесь отображаются все действия программы"));
    bool saved = save(main, out, "main-window.png");

    main.xpButton3Click();
    qevra::TForm2& editor = program.Form2;
    editor.fsListBox1->selectRow(0);
    editor.fsListBox1Click();
    saved = save(editor, out, "copies-editor.png") && saved;
    editor.fsbitbtn4Click();
    saved = save(editor, out, "copies-editor-preview.png") && saved;

    program.AboutBox.show();
    saved = save(program.AboutBox, out, "about-box.png") && saved;

    qevra::Application::setServices(nullptr);
    return saved ? 0 : 1;
}
