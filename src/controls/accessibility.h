#pragma once

#include <QAccessible>
#include <functional>

class QLabel;
class QObject;

namespace qevra::controls {

// Registers the accessible interfaces of the program's own controls with
// Qt's accessibility, once: the owner-drawn push button (role PushButton,
// the caption as its name, the press action) and check box (role CheckBox,
// the checked state, the toggle action), the progress bar (role
// ProgressBar, with the value interface) and the status bar (role
// StatusBar, its text as name and value), the flat combo box (its
// accessible name as name, its text as value), the name list (role List,
// its rows in view as its children, role ListItem, each with its text as
// name and its selected and focused states), and the labels made links
// (makeLink: role Link, the press action); and the program's windows, plain
// widgets that Qt would present as a client area, take the role Window, with
// their shown child widgets as children (a hidden one is not there). Qt's own
// widgets and windows (menus, message boxes, dialogs) keep Qt's interfaces.
// The controls' constructors call it.
//
// The press and toggle actions run the control's click action from the
// event loop, as a click does: the assistive tool's call returns at once
// (a handler may open a modal window), and what the handler throws goes
// to the event loop's error handling like any other click's.
void installAccessibleFactory();

// Makes a label a link that the keyboard and assistive tools reach: Tab
// gives it the focus (a dotted mark around it shows it, once a key was
// pressed when the focus came as the window opened), the release of
// Enter or Space runs `activate`, and assistive tools see role Link, its
// text as name, and the press action, which runs `activate` from the event
// loop. A click stays its owner's business. Call it before the label shows.
void makeLink(QLabel* label, std::function<void()> activate);

// Tells assistive tools, when one listens, that the object's name (or
// other property named by `event`) changed.
void notifyAccessible(QObject* object, QAccessible::Event event);
// ... that the checked state of a check box changed.
void notifyCheckedChanged(QObject* object);
// ... that the value of a progress bar changed.
void notifyValueChanged(QObject* object, int value);

} // namespace qevra::controls
