// What a screen reader finds in the windows: roles, names, states and
// values of the controls, and the press and toggle actions, which run the
// same code as a click.
#include "app/stop_flag.h"
#include "controls/accessibility.h"
#include "support/form_fixture.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <map>

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
