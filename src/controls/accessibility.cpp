#include "controls/accessibility.h"

#include "controls/basic_controls.h"
#include "controls/name_list.h"
#include "controls/progress_bar.h"
#include "controls/status_bar.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QFocusFrame>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QWindow>
#include <mutex>

namespace qevra::controls {

namespace {

// A control that lies wholly beyond its window's edge (the copies editor's
// preview panel while it is closed) cannot be seen, though shown.
bool outsideItsWindow(const QWidget* control)
{
    const QWidget* window = control->window();
    if (window == control)
        return false;
    return !QRect(control->mapTo(window, QPoint(0, 0)), control->size()).intersects(window->rect());
}

// The button and the check box: their caption (without the accelerator's
// "&") is their name, Alt with the accelerator character their shortcut,
// and one action runs the click action.
class OwnerDrawnAccessible : public QAccessibleWidget {
public:
    OwnerDrawnAccessible(OwnerDrawnControl* control, QAccessible::Role role, QString action)
        : QAccessibleWidget(control, role)
        , action_(std::move(action))
    {
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? captionWithoutMark(control()->caption()) : name;
        }
        case QAccessible::Accelerator: {
            const QChar key = acceleratorOf(control()->caption());
            if (key.isNull())
                return {};
            return QKeySequence(
                QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(key.toUpper().unicode())))
                .toString(QKeySequence::NativeText);
        }
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = control()->pressed();
        state.hotTracked = control()->hover();
        if (outsideItsWindow(control())) {
            state.invisible = true;
            state.offscreen = true;
        }
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList(action_) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name != action_) {
            QAccessibleWidget::doAction(name);
            return;
        }
        OwnerDrawnControl* const target = control();
        QMetaObject::invokeMethod(
            target,
            [target] {
                // A control disabled meanwhile takes no click.
                if (target->isEnabled())
                    target->click();
            },
            Qt::QueuedConnection);
    }

protected:
    OwnerDrawnControl* control() const { return static_cast<OwnerDrawnControl*>(object()); }

private:
    QString action_;
};

class CheckBoxAccessible : public OwnerDrawnAccessible {
public:
    explicit CheckBoxAccessible(TxpCheckBox* box)
        : OwnerDrawnAccessible(box, QAccessible::CheckBox, toggleAction())
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = OwnerDrawnAccessible::state();
        state.checkable = true;
        state.checked = static_cast<TxpCheckBox*>(control())->isChecked();
        return state;
    }
};

class ProgressBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarAccessible(ProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Value)
            return QAccessibleWidget::text(t);
        const ProgressBar* const b = bar();
        const int percent = b->maximum() > 0 ? b->position() * 100 / b->maximum() : 0;
        return QStringLiteral("%1%").arg(percent);
    }

    QVariant currentValue() const override { return bar()->position(); }
    // The bar is driven by the search only.
    void setCurrentValue(const QVariant&) override { }
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return bar()->step(); }

private:
    ProgressBar* bar() const { return static_cast<ProgressBar*>(object()); }
};

class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(StatusBar* bar)
        : QAccessibleWidget(bar, QAccessible::StatusBar)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const QString shown = static_cast<StatusBar*>(object())->text();
        switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? shown : name;
        }
        case QAccessible::Value:
            return shown;
        default:
            return QAccessibleWidget::text(t);
        }
    }
};

// The flat combo box. Qt's own interface names an editable combo box on
// Linux by its current text, so a screen reader would say "txt" and not
// what the box is for; here the name is the accessible name set on the box
// (its label's text), and the text is the value.
class ComboBoxAccessible : public QAccessibleWidget {
public:
    explicit ComboBoxAccessible(TfsComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? box()->currentText() : name;
        }
        case QAccessible::Value:
            return box()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = box()->isEditable();
        state.expandable = true;
        state.expanded = box()->view() && box()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    // The drop-down list, then the edit field.
    int childCount() const override { return box()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->lineEdit())
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child)
            return -1;
        if (child->object() == box()->view())
            return 0;
        if (box()->lineEdit() && child->object() == box()->lineEdit())
            return 1;
        return -1;
    }

    QStringList actionNames() const override
    {
        return QStringList { QAccessibleActionInterface::showMenuAction(),
            QAccessibleActionInterface::pressAction() }
        + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name == QAccessibleActionInterface::showMenuAction()
            || name == QAccessibleActionInterface::pressAction()) {
            if (box()->view() && box()->view()->isVisible())
                box()->hidePopup();
            else
                box()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    TfsComboBox* box() const { return static_cast<TfsComboBox*>(object()); }
};

// One row in view of a name list, which has no object of its own: its
// text is its name, its place the row's rectangle on the screen.
class NameRowAccessible : public QAccessibleInterface {
public:
    NameRowAccessible(TfsListBox* list, std::uint64_t row)
        : list_(list)
        , row_(row)
    {
    }

    TfsListBox* list() const { return list_; }
    std::uint64_t row() const { return row_; }

    bool isValid() const override { return list_ && row_ < list_->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return list_ ? QAccessible::queryAccessibleInterface(list_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !list_)
            return {};
        return list_->rowText(std::int64_t(row_));
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        if (!list_)
            return {};
        const QRect shown = list_->visualRect(std::int64_t(row_));
        if (shown.isEmpty())
            return {};
        return QRect(list_->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const auto row = std::int64_t(row_);
        state.selectable = true;
        state.selected = list_->selectedRow() == row;
        state.focusable = list_->isEnabled();
        state.focused = list_->hasFocus() && list_->currentRow() == row;
        state.disabled = !list_->isEnabled();
        if (list_->visualRect(row).isEmpty()) {
            state.invisible = true;
            state.offscreen = true;
        }
        return state;
    }

private:
    QPointer<TfsListBox> list_;
    std::uint64_t row_;
};

// The name list: role List, its children the rows in view (the rows out
// of view are not there for a tool to walk, as there may be billions).
class NameListAccessible : public QAccessibleWidget {
public:
    explicit NameListAccessible(TfsListBox* list)
        : QAccessibleWidget(list, QAccessible::List)
    {
    }

    ~NameListAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(rows_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return list()->rowsInView(); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= list()->rowsInView())
            return nullptr;
        return rowInterface(list()->topRow() + std::uint64_t(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* row = dynamic_cast<const NameRowAccessible*>(child);
        if (!row || row->list() != list() || row->row() < list()->topRow())
            return -1;
        const std::uint64_t index = row->row() - list()->topRow();
        return index < std::uint64_t(list()->rowsInView()) ? int(index) : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const std::int64_t row = list()->rowAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return row < 0 ? nullptr : rowInterface(std::uint64_t(row));
    }

    QAccessibleInterface* focusChild() const override
    {
        const std::int64_t row = list()->currentRow();
        if (!list()->hasFocus() || row < 0 || list()->visualRect(row).isEmpty())
            return nullptr;
        return rowInterface(std::uint64_t(row));
    }

private:
    TfsListBox* list() const { return static_cast<TfsListBox*>(object()); }

    // The interface of a row, made once while the row stays in view; the
    // interfaces of rows scrolled away go once they outnumber those in view.
    QAccessibleInterface* rowInterface(std::uint64_t row) const
    {
        if (const auto found = rows_.constFind(row); found != rows_.cend())
            return QAccessible::accessibleInterface(*found);
        const std::uint64_t top = list()->topRow();
        const auto inView = std::uint64_t(list()->rowsInView());
        if (std::uint64_t(rows_.size()) > 2 * inView + 16) {
            for (auto it = rows_.begin(); it != rows_.end();) {
                if (it.key() < top || it.key() >= top + inView) {
                    QAccessible::deleteAccessibleInterface(it.value());
                    it = rows_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        auto* made = new NameRowAccessible(list(), row);
        rows_.insert(row, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    mutable QHash<std::uint64_t, QAccessible::Id> rows_;
};

// What makes a label a link (makeLink): a child of the label that watches
// its keys, focus and painting, and runs its activation.
class LinkActivation : public QObject {
public:
    LinkActivation(QLabel* label, std::function<void()> activate)
        : QObject(label)
        , label_(label)
        , activate_(std::move(activate))
    {
        label->setFocusPolicy(Qt::TabFocus);
        label->installEventFilter(this);
    }

    // Runs the activation, as a click on the label does; a label disabled
    // meanwhile takes none.
    void activateIfEnabled()
    {
        if (label_->isEnabled() && activate_)
            activate_();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != label_)
            return false;
        switch (event->type()) {
        case QEvent::KeyPress: {
            showMark(true);
            // Enter or Space activates on its release, as on the program's
            // buttons.
            auto* key = static_cast<QKeyEvent*>(event);
            if (!isActivationKey(key))
                return false;
            if (!key->isAutoRepeat())
                heldKey_ = key->key();
            return true;
        }
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!isActivationKey(key))
                return false;
            if (!key->isAutoRepeat() && key->key() == heldKey_) {
                heldKey_ = 0;
                activateIfEnabled();
            }
            return true;
        }
        case QEvent::FocusIn: {
            // The focus the window hands on as it opens or a click leaves
            // shows no mark until a key is pressed: a window opened with the
            // mouse looks as it always did.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            heldKey_ = 0;
            showMark(reason != Qt::ActiveWindowFocusReason && reason != Qt::MouseFocusReason
                && reason != Qt::PopupFocusReason);
            return false;
        }
        case QEvent::FocusOut:
            heldKey_ = 0;
            showMark(false);
            return false;
        case QEvent::Paint: {
            if (!markShown_ || !label_->hasFocus())
                return false;
            // The label paints its text, then the focus mark goes around it.
            static_cast<QObject*>(label_)->event(event);
            QPainter painter(label_);
            focusMark(painter, 0, 0, label_->width(), label_->height());
            return true;
        }
        default:
            return false;
        }
    }

private:
    static bool isActivationKey(const QKeyEvent* key)
    {
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter
            || key->key() == Qt::Key_Space;
    }

    void showMark(bool shown)
    {
        if (shown == markShown_)
            return;
        markShown_ = shown;
        label_->update();
    }

    QLabel* label_;
    std::function<void()> activate_;
    int heldKey_ = 0;
    bool markShown_ = false;
};

// A program window: role Window, where Qt would present a plain widget as a
// nameless client area and tools look for a window with its title. Its
// children are its child widgets that are not hidden: a control the window
// does not show is not there for a tool to walk or announce.
class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(QWidget* window)
        : QAccessibleWidget(window, QAccessible::Window)
    {
    }

    int childCount() const override { return int(shownChildren().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList shown = shownChildren();
        if (index < 0 || index >= shown.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(shown.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child)
            return -1;
        return int(shownChildren().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    // As Qt's own interfaces list a widget's children (other windows, the
    // menus among them, and focus frames are not children), less the hidden.
    QWidgetList shownChildren() const
    {
        QWidgetList shown;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !child->isHidden()
                && !qobject_cast<QFocusFrame*>(child))
                shown.append(child);
        }
        return shown;
    }
};

// A label made a link (makeLink): role Link, its text as name, and the press
// action, which runs the link's activation from the event loop.
class LinkAccessible : public QAccessibleWidget {
public:
    LinkAccessible(QLabel* label, LinkActivation* activation)
        : QAccessibleWidget(label, QAccessible::Link)
        , activation_(activation)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList(QAccessibleActionInterface::pressAction())
            + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name != QAccessibleActionInterface::pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        LinkActivation* const activation = activation_.data();
        if (!activation)
            return;
        QMetaObject::invokeMethod(
            activation, [activation] { activation->activateIfEnabled(); }, Qt::QueuedConnection);
    }

private:
    QPointer<LinkActivation> activation_;
};

// Qt's own widgets and windows (menus, message boxes, file dialogs, tool
// tips...) keep Qt's own interfaces; only the program's classes, whose meta
// objects live in its namespace, are its windows.
bool isProgramWindow(QObject* object)
{
    if (!object->isWidgetType() || !static_cast<QWidget*>(object)->isWindow())
        return false;
    const QMetaObject* meta = object->metaObject();
    return meta->superClass() == &QWidget::staticMetaObject
        && QByteArrayView(meta->className()).startsWith("qevra::");
}

QAccessibleInterface* programControls(const QString&, QObject* object)
{
    if (auto* button = qobject_cast<TxpButton*>(object))
        return new OwnerDrawnAccessible(
            button, QAccessible::PushButton, QAccessibleActionInterface::pressAction());
    if (auto* box = qobject_cast<TxpCheckBox*>(object))
        return new CheckBoxAccessible(box);
    if (auto* bar = qobject_cast<ProgressBar*>(object))
        return new ProgressBarAccessible(bar);
    if (auto* bar = qobject_cast<StatusBar*>(object))
        return new StatusBarAccessible(bar);
    if (auto* box = qobject_cast<TfsComboBox*>(object))
        return new ComboBoxAccessible(box);
    if (auto* list = qobject_cast<TfsListBox*>(object))
        return new NameListAccessible(list);
    if (auto* label = qobject_cast<QLabel*>(object)) {
        for (QObject* child : label->children()) {
            if (auto* activation = dynamic_cast<LinkActivation*>(child))
                return new LinkAccessible(label, activation);
        }
    }
    if (isProgramWindow(object))
        return new WindowAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

void installAccessibleFactory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(programControls); });
}

void makeLink(QLabel* label, std::function<void()> activate)
{
    installAccessibleFactory();
    new LinkActivation(label, std::move(activate));
    // Qt made the label's interface, a static text, as the label got its
    // text: it goes, so that the next query makes the link's.
    if (QAccessibleInterface* before = QAccessible::queryAccessibleInterface(label))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(before));
}

void notifyAccessible(QObject* object, QAccessible::Event event)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent change(object, event);
    QAccessible::updateAccessibility(&change);
}

void notifyCheckedChanged(QObject* object)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent change(object, changed);
    QAccessible::updateAccessibility(&change);
}

void notifyValueChanged(QObject* object, int value)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent change(object, value);
    QAccessible::updateAccessibility(&change);
}

} // namespace qevra::controls
