#include "controls/accessibility.h"

#include "controls/progress_bar.h"
#include "controls/status_bar.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"

#include <QAccessibleWidget>
#include <QKeySequence>
#include <mutex>

namespace qevra::controls {

namespace {

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
    return nullptr;
}

} // namespace

void installAccessibleFactory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(programControls); });
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
