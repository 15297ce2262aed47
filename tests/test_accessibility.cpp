// What a screen reader finds in the windows: roles, names, states and
// values of the controls, and the press and toggle actions, which run the
// same code as a click.
#include "app/stop_flag.h"
#include "controls/accessibility.h"
#include "platform/folder_dialog.h"
#include "support/form_fixture.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSplashScreen>
#include <QTreeWidget>
#include <map>
#include <set>

using namespace qevra;
using namespace qevra::testing;

namespace {

QAccessibleInterface* accessible(QObject* object)
{
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(found, nullptr) << object->metaObject()->className();
    return found;
}

QString nameOf(QObject* object)
{
    return accessible(object)->text(QAccessible::Name);
}

// Runs an action as an assistive tool does, then lets the event loop run
// what the action asked for.
void act(QObject* object, const QString& action)
{
    QAccessibleActionInterface* actions = accessible(object)->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(action)) << action.toStdString();
    actions->doAction(action);
    QCoreApplication::processEvents();
}

// How many of the window's descendants in the accessibility tree have each role.
std::map<QAccessible::Role, int> rolesUnder(QAccessibleInterface* node)
{
    std::map<QAccessible::Role, int> roles;
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (!child)
            continue;
        ++roles[child->role()];
        for (const auto& [role, count] : rolesUnder(child))
            roles[role] += count;
    }
    return roles;
}

// The objects of the node's children, in order.
std::vector<QObject*> childObjects(QAccessibleInterface* node)
{
    std::vector<QObject*> objects;
    for (int i = 0; i < node->childCount(); ++i)
        objects.push_back(node->child(i) ? node->child(i)->object() : nullptr);
    return objects;
}

bool isChildOf(QWidget* widget, QWidget* window)
{
    const std::vector<QObject*> children = childObjects(accessible(window));
    return std::find(children.begin(), children.end(), widget) != children.end();
}

const QString press = QAccessibleActionInterface::pressAction();
const QString toggle = QAccessibleActionInterface::toggleAction();

using Accessibility = FormsTest;

} // namespace

TEST_F(Accessibility, MainWindowTreeHasEveryControlWithItsRole)
{
    for (QWidget* window : std::initializer_list<QWidget*> { form1, form2, about })
        EXPECT_EQ(accessible(window)->role(), QAccessible::Window);
    EXPECT_EQ(accessible(form1)->text(QAccessible::Name), QStringLiteral("Qevra"));
    const auto roles = rolesUnder(accessible(form1));
    EXPECT_EQ(roles.at(QAccessible::PushButton), 5);
    EXPECT_EQ(roles.at(QAccessible::CheckBox), 3);
    EXPECT_EQ(roles.at(QAccessible::ProgressBar), 1);
    EXPECT_EQ(roles.at(QAccessible::StatusBar), 1);
    EXPECT_EQ(roles.at(QAccessible::ComboBox), 1);

    EXPECT_EQ(nameOf(form1->proComboBox1), QStringLiteral("Расширение файлов"));
    // Typed text is the box's value; its name stays.
    form1->proComboBox1->setEditText(QStringLiteral("txt"));
    EXPECT_EQ(nameOf(form1->proComboBox1), QStringLiteral("Расширение файлов"));
    EXPECT_EQ(accessible(form1->proComboBox1)->text(QAccessible::Value), QStringLiteral("txt"));
    EXPECT_EQ(nameOf(form1->Label2), QStringLiteral("Текущий каталог: не выбран"));
    folders().answers.push_back("/tmp/photos");
    click(form1->xpButton1);
    EXPECT_EQ(nameOf(form1->Label2), QStringLiteral("Текущий каталог: /tmp/photos"));
}

TEST_F(Accessibility, PressRunsTheButtonsClickThroughTheEventLoop)
{
    act(form1->xpButton4, press);
    EXPECT_TRUE(about->isVisible());

    act(form1->fsBitBtn4, press);
    EXPECT_NE(StopFlag, 0);
    StopFlag = 0;

    // A handler's silent abort ends the command as after a click: its
    // message shows, and nothing escapes to the caller.
    act(form1->xpButton3, press);
    EXPECT_EQ(boxes().messages, std::vector<QString> { QStringLiteral("Выберите каталог") });

    // The press runs OnClick once, and a disabled button takes none.
    int clicks = 0;
    form1->xpButton2->OnClick = [&](QObject*) { ++clicks; };
    act(form1->xpButton2, press);
    EXPECT_EQ(clicks, 1);
    form1->xpButton2->setEnabled(false);
    EXPECT_TRUE(accessible(form1->xpButton2)->state().disabled);
    act(form1->xpButton2, press);
    EXPECT_EQ(clicks, 1);
}

TEST_F(Accessibility, ToggleChecksTheBoxThenRunsItsHandler)
{
    QAccessibleInterface* content = accessible(form1->checkbox1);
    EXPECT_TRUE(content->state().checkable);
    EXPECT_FALSE(content->state().checked);

    act(form1->checkbox1, toggle);
    EXPECT_TRUE(form1->checkbox1->isChecked());
    EXPECT_TRUE(content->state().checked);
    // The handler saw the new state: the other two criteria are disabled.
    EXPECT_TRUE(accessible(form1->CheckBox2)->state().disabled);
    EXPECT_TRUE(accessible(form1->CheckBox3)->state().disabled);
    act(form1->CheckBox2, toggle); // disabled: nothing
    EXPECT_FALSE(form1->CheckBox2->isChecked());

    act(form1->checkbox1, toggle);
    EXPECT_FALSE(content->state().checked);
    EXPECT_FALSE(accessible(form1->CheckBox2)->state().disabled);
}

TEST_F(Accessibility, CaptionChangesAndAcceleratorsReachTheName)
{
    controls::TxpButton button(QStringLiteral("&Открыть"), form1);
    EXPECT_EQ(nameOf(&button), QStringLiteral("Открыть"));
    EXPECT_EQ(accessible(&button)->text(QAccessible::Accelerator), QStringLiteral("Alt+О"));
    button.setCaption(QStringLiteral("Закрыть"));
    EXPECT_EQ(nameOf(&button), QStringLiteral("Закрыть"));
    EXPECT_TRUE(accessible(&button)->text(QAccessible::Accelerator).isEmpty());
}

TEST_F(Accessibility, ProgressBarReportsItsValueAndStatusBarItsText)
{
    QAccessibleInterface* bar = accessible(form1->ProgressBar1);
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    EXPECT_EQ(bar->text(QAccessible::Name), QStringLiteral("Ход поиска"));
    QAccessibleValueInterface* value = bar->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    ASSERT_TRUE(form1->ProgressBar1->setPosition(37));
    EXPECT_EQ(value->currentValue().toInt(), 37);
    EXPECT_EQ(bar->text(QAccessible::Value), QStringLiteral("37%"));

    QAccessibleInterface* status = accessible(form1->StatusBar1);
    EXPECT_EQ(status->role(), QAccessible::StatusBar);
    QTest::mouseMove(form1->StatusBar1, QPoint(40, form1->StatusBar1->height() / 2));
    const QString hint = QStringLiteral("   Здесь отображаются все действия программы");
    ASSERT_EQ(form1->StatusBar1->text(), hint);
    EXPECT_EQ(status->text(QAccessible::Name), hint);
    EXPECT_EQ(status->text(QAccessible::Value), hint);
}

TEST_F(Accessibility, EditorNamesItsListsAndPathLabels)
{
    showPairs({ { "/a/one.txt", "/b/one.txt" } });
    QAccessibleInterface* first = accessible(form2->fsListBox1);
    EXPECT_EQ(first->role(), QAccessible::List);
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("1-ый файл из пары копий"));
    EXPECT_EQ(nameOf(form2->Label3), QStringLiteral("Путь 1-го файла: Пусто"));
    const QRect row = form2->fsListBox1->visualRect(0);
    QTest::mouseClick(form2->fsListBox1->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(nameOf(form2->Label3), QStringLiteral("Путь 1-го файла: Файл удален"));
}

TEST_F(Accessibility, QtsOwnWidgetsKeepQtsInterfaces)
{
    // The name lists' menu is a top-level widget of Qt's: a popup menu
    // whose items a screen reader moves through, not a nameless window.
    QMenu* menu = form2->nameListMenu;
    QAccessibleInterface* popup = accessible(menu);
    EXPECT_EQ(popup->role(), QAccessible::PopupMenu);
    ASSERT_GE(popup->childCount(), 1);
    EXPECT_EQ(popup->child(0)->role(), QAccessible::MenuItem);
    EXPECT_EQ(popup->child(0)->text(QAccessible::Name), kMenuOpen);
    std::vector<QString> items;
    for (int i = 0; i < popup->childCount(); ++i)
        if (popup->child(i)->role() == QAccessible::MenuItem)
            items.push_back(popup->child(i)->text(QAccessible::Name));
    EXPECT_NE(std::find(items.begin(), items.end(), kMenuTrash), items.end());

    // Other windows of Qt's classes, whether they derive from QWidget
    // directly or from a dialog, are not taken for the program's.
    QSplashScreen splash;
    EXPECT_NE(accessible(&splash)->role(), QAccessible::Window);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Qevra"), QStringLiteral("Текст"));
    EXPECT_NE(accessible(&box)->role(), QAccessible::Window);
    QWidget plain;
    EXPECT_NE(accessible(&plain)->role(), QAccessible::Window);
}

TEST_F(Accessibility, EditorButtonsSayWhichFileTheyActOn)
{
    TForm2& e = *form2;
    const std::vector<controls::TxpButton*> columns[] = {
        { e.xpButton1, e.xpButton2, e.xpButton3 },
        { e.xpButton4, e.xpButton5, e.xpButton6 },
    };
    std::set<QString> descriptions;
    for (std::size_t i = 0; i < 3; ++i) {
        // The captions stay the names, the same in both columns.
        EXPECT_EQ(nameOf(columns[0][i]), nameOf(columns[1][i]));
        EXPECT_EQ(nameOf(columns[0][i]), columns[0][i]->caption());
        for (const auto& column : columns)
            descriptions.insert(accessible(column[i])->text(QAccessible::Description));
    }
    EXPECT_EQ(descriptions.size(), 6U);
    EXPECT_EQ(accessible(e.xpButton1)->text(QAccessible::Description),
        QStringLiteral("Открыть 1-ый файл из пары копий"));
    EXPECT_EQ(accessible(e.xpButton5)->text(QAccessible::Description),
        QStringLiteral("Удалить 2-ой файл из пары копий"));
    EXPECT_EQ(accessible(e.xpButton3)->text(QAccessible::Description),
        QStringLiteral("Удалить все 1-ые файлы из пар копий"));
    EXPECT_NE(accessible(e.Button5)->text(QAccessible::Description),
        accessible(e.Button1)->text(QAccessible::Description));

    // The preview toggle is named by what a press does, as it opens and
    // closes; its caption stays the arrows.
    e.showResults(std::nullopt, PreviewKind::Pictures, true);
    EXPECT_EQ(nameOf(e.fsbitbtn4), QStringLiteral("Показать просмотр"));
    act(e.fsbitbtn4, press);
    EXPECT_EQ(e.fsbitbtn4->caption(), QStringLiteral("<<<"));
    EXPECT_EQ(nameOf(e.fsbitbtn4), QStringLiteral("Скрыть просмотр"));
    act(e.fsbitbtn4, press);
    EXPECT_EQ(e.fsbitbtn4->caption(), QStringLiteral(">>>"));
    EXPECT_EQ(nameOf(e.fsbitbtn4), QStringLiteral("Показать просмотр"));
}

TEST_F(Accessibility, HiddenControlsAreNotInTheTree)
{
    showPairs({ { "/a/one.txt", "/b/one.txt" } });
    TForm2& e = *form2;
    QAccessibleInterface* window = accessible(&e);
    // The editor's hidden labels (the shown row's number, the preview kind).
    for (QWidget* hidden : std::initializer_list<QWidget*> { e.Label2, e.Label6 }) {
        EXPECT_FALSE(isChildOf(hidden, &e)) << hidden->objectName().toStdString();
        EXPECT_EQ(window->indexOfChild(accessible(hidden)), -1);
    }
    // Every control not hidden is there, each at its own index.
    for (QWidget* shown : e.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (shown->isWindow() || shown->isHidden())
            continue;
        const int index = window->indexOfChild(accessible(shown));
        ASSERT_GE(index, 0) << shown->metaObject()->className();
        EXPECT_EQ(window->child(index)->object(), shown);
    }
    EXPECT_EQ(window->child(window->childCount()), nullptr);

    // A control shown later joins, and leaves again when hidden.
    e.Label6->show();
    EXPECT_TRUE(isChildOf(e.Label6, &e));
    e.Label6->hide();
    EXPECT_FALSE(isChildOf(e.Label6, &e));
    // The preview toggle is hidden when the files found have no preview.
    e.showResults(std::nullopt, std::nullopt, true);
    EXPECT_FALSE(isChildOf(e.fsbitbtn4, &e));
    // Hidden before the window shows: the About box.
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(isChildOf(about->Label3, about));
}

TEST_F(Accessibility, FolderDialogAndExtensionEditAreNamed)
{
    platform::FolderDialog dialog(nullptr, QStringLiteral("Выберите каталог"));
    EXPECT_EQ(nameOf(dialog.tree), QStringLiteral("Папки"));
    EXPECT_EQ(nameOf(dialog.pathEdit), QStringLiteral("Путь к папке"));
    EXPECT_EQ(accessible(&dialog)->role(), QAccessible::Dialog);

    QAccessibleInterface* box = accessible(form1->proComboBox1);
    ASSERT_EQ(box->childCount(), 2);
    QAccessibleInterface* edit = box->child(1);
    EXPECT_EQ(edit->object(), form1->proComboBox1->lineEdit());
    EXPECT_EQ(edit->role(), QAccessible::EditableText);
    EXPECT_EQ(edit->text(QAccessible::Name), QStringLiteral("Расширение файлов"));
}

TEST_F(Accessibility, AboutLinksTakeTheKeyboardAndActLikeAClick)
{
    about->show();
    about->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    controls::Label* mail = about->Label3;
    controls::Label* home = about->Label4;
    for (controls::Label* link : { mail, home }) {
        QAccessibleInterface* found = accessible(link);
        EXPECT_EQ(found->role(), QAccessible::Link);
        EXPECT_TRUE(found->state().focusable);
        EXPECT_TRUE(found->state().linked);
    }
    EXPECT_EQ(nameOf(mail), TAboutBox::kEmail);
    EXPECT_EQ(nameOf(home), QStringLiteral("example.org/qevra"));
    EXPECT_EQ(accessible(home)->text(QAccessible::Description), TAboutBox::kHomePage);
    // The other labels are texts, out of the Tab chain.
    EXPECT_EQ(accessible(about->Label1)->role(), QAccessible::StaticText);
    EXPECT_EQ(about->Label1->focusPolicy(), Qt::NoFocus);

    // Tab goes from one link to the other and back.
    mail->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(mail->hasFocus());
    EXPECT_TRUE(accessible(mail)->state().focused);
    QTest::keyClick(mail, Qt::Key_Tab);
    EXPECT_TRUE(home->hasFocus());
    QTest::keyClick(home, Qt::Key_Tab);
    EXPECT_TRUE(mail->hasFocus());

    const std::string mailto = "mailto:" + TAboutBox::kEmail.toStdString();
    const std::string page = TAboutBox::kHomePage.toStdString();
    // Enter and Space act on their release; other keys and Ctrl+Enter do not.
    QTest::keyPress(mail, Qt::Key_Return);
    EXPECT_TRUE(desktop().opened.empty());
    QTest::keyRelease(mail, Qt::Key_Return);
    EXPECT_EQ(desktop().opened, std::vector<std::string> { mailto });
    QTest::keyClick(mail, Qt::Key_A);
    QTest::keyClick(mail, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(desktop().opened.size(), 1U);
    home->setFocus(Qt::TabFocusReason);
    QTest::keyClick(home, Qt::Key_Space);
    QTest::keyClick(home, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(desktop().opened, (std::vector<std::string> { mailto, page, page }));

    // The press action opens the same, through the event loop.
    act(mail, press);
    act(home, press);
    EXPECT_EQ(desktop().opened, (std::vector<std::string> { mailto, page, page, mailto, page }));
    // A click still does what it did, and gives no focus.
    mail->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(home, Qt::LeftButton);
    EXPECT_EQ(desktop().opened.back(), page);
    EXPECT_TRUE(mail->hasFocus());
}

TEST_F(Accessibility, FocusedLinkShowsTheFocusMark)
{
    about->show();
    about->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    controls::Label* mail = about->Label3;
    controls::Label* home = about->Label4;
    const auto corner = [](QWidget* link) { return link->grab().toImage().pixelColor(0, 0); };
    const QColor ground = corner(about->Label1);
    // The window gave the first link the focus as it opened: no mark until
    // a key is pressed.
    ASSERT_TRUE(mail->hasFocus());
    EXPECT_EQ(corner(mail), ground);
    QTest::keyClick(mail, Qt::Key_Shift);
    EXPECT_NE(corner(mail), ground);

    home->setFocus(Qt::TabFocusReason);
    EXPECT_NE(corner(home), ground);
    EXPECT_EQ(corner(mail), ground);
    mail->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(corner(mail), ground);
}
