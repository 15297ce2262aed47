#!/usr/bin/python3
"""What a screen reader finds of the running program over AT-SPI.

    atspi.py main DIRECTORY   the main window after DIRECTORY was chosen, an
                              extension typed and "По содержанию" checked
    atspi.py editor           the copies editor with a pair chosen
    atspi.py menu             the name lists' menu, open: presses Down (with
                              xdotool) and hears its first item take the focus
    atspi.py folder           the folder dialog, open
    atspi.py about            the About box, open
    atspi.py status TEXT      the status bar reads TEXT
    atspi.py press NAME       presses the button NAME through its action

Exit status 0 when everything holds; 1 with the reasons on stderr.
"""
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Some of the calls used here have newer spellings; the old ones work on
# every version shipped with the platform.
warnings.filterwarnings("ignore", category=DeprecationWarning)

APPLICATION = "Qevra"
problems = []


def check(condition, message):
    if not condition:
        problems.append(message)
    return condition


def application(seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == APPLICATION:
                return app
        time.sleep(0.2)
    sys.exit(f"atspi: {APPLICATION} did not appear on the accessibility bus "
             "(at-spi2-core provides it; scripts/install-deps installs it)")


def states(node):
    return node.get_state_set()


def showing(node):
    return states(node).contains(Atspi.StateType.SHOWING)


def descendants(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def window(title, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        app = application()
        for i in range(app.get_child_count()):
            top = app.get_child_at_index(i)
            if top is not None and top.get_name() == title and showing(top):
                return top
        time.sleep(0.2)
    sys.exit(f"atspi: no window \"{title}\" is shown on the accessibility bus")


def of_role(top, role):
    return [node for node in descendants(top) if node.get_role_name() == role]


def names(nodes):
    return sorted(node.get_name() for node in nodes)


def actions(node):
    return [node.get_action_name(i) for i in range(node.get_n_actions())]


def by_name(nodes, name):
    found = [node for node in nodes if node.get_name() == name]
    check(len(found) == 1, f"one \"{name}\" expected, found {len(found)}")
    return found[0] if found else None


# A line edit's role, by the version of the toolkit.
TEXT_ROLES = ("text", "entry")
HIDDEN_LABELS = ("0", "Label6")  # the editor's row number and preview kind


def main_window(directory):
    top = window("Qevra")
    check(top.get_role_name() == "frame", f"the main window is a {top.get_role_name()}")
    buttons = of_role(top, "push button")
    check(names(buttons) == sorted(["Выбрать каталог", "Добавить каталог", "Искать копии",
                                    "О программе", "Стоп"]),
          f"push buttons {names(buttons)}")
    for button in buttons:
        check("Press" in actions(button), f"\"{button.get_name()}\" has no Press action")
    boxes = of_role(top, "check box")
    check(names(boxes) == sorted(["По содержанию", "По имени", "По размеру"]),
          f"check boxes {names(boxes)}")
    content = by_name(boxes, "По содержанию")
    if content is not None:
        check(states(content).contains(Atspi.StateType.CHECKED),
              "\"По содержанию\" is not reported checked")
        check("Toggle" in actions(content), "\"По содержанию\" has no Toggle action")
    for other in ("По имени", "По размеру"):
        box = by_name(boxes, other)
        if box is not None:
            check(not states(box).contains(Atspi.StateType.SENSITIVE),
                  f"\"{other}\" is not reported disabled")
    combo = of_role(top, "combo box")
    check(names(combo) == ["Расширение файлов"], f"combo boxes {names(combo)}")
    if combo:
        edits = [node for node in descendants(combo[0]) if node.get_role_name() in TEXT_ROLES]
        check(names(edits) == ["Расширение файлов"],
              f"the extension box's edit field is named {names(edits)}")
    labels = names(of_role(top, "label"))
    check(f"Текущий каталог: {directory}" in labels,
          f"no directory label naming {directory}: {labels}")
    bars = of_role(top, "progress bar")
    if check(len(bars) == 1, f"{len(bars)} progress bars"):
        bar = bars[0]
        check((bar.get_minimum_value(), bar.get_maximum_value()) == (1, 100),
              f"progress bar from {bar.get_minimum_value()} to {bar.get_maximum_value()}")
        check(bar.get_current_value() == 0, f"progress bar at {bar.get_current_value()}")
    check(len(of_role(top, "status bar")) == 1, "no status bar")


def editor():
    top = window("Редактор копий")
    lists = of_role(top, "list")
    check(names(lists) == ["1-ый файл из пары копий", "2-ой файл из пары копий"],
          f"lists {names(lists)}")
    first = by_name(lists, "1-ый файл из пары копий")
    if first is not None:
        check(first.get_child_count() >= 1, "the first list has no rows")
    labels = names(of_role(top, "label"))
    for title in ("Путь 1-го файла: ", "Путь 2-го файла: "):
        check(any(label.startswith(title) and len(label) > len(title) for label in labels),
              f"no label \"{title}…\": {labels}")
    # The open and delete buttons of both columns; the preview toggle and
    # the player's buttons depend on the kind of files found.
    buttons = of_role(top, "push button")
    shown = names(button for button in buttons if showing(button))
    for caption in ("Открыть", "Удалить", "Удалить все"):
        check(shown.count(caption) == 2, f"not two \"{caption}\" among {shown}")
    # Their descriptions tell the columns apart.
    paired = [button for button in buttons
              if button.get_name() in ("Открыть", "Удалить", "Удалить все") and showing(button)]
    descriptions = [button.get_description() for button in paired]
    check(len(set(descriptions)) == len(paired) and all(descriptions),
          f"the open and delete buttons are described as {sorted(descriptions)}")
    check("Открыть 1-ый файл из пары копий" in descriptions,
          f"no \"Открыть\" of the first file among {sorted(descriptions)}")
    # The preview toggle is named by what it does, never by its arrows (and
    # with no preview for the files found it is hidden, so not there at all).
    arrows = [name for name in names(buttons) if name in (">>>", "<<<")]
    check(not arrows, f"the preview toggle is named {arrows}")
    hidden = [name for name in names(of_role(top, "label")) if name in HIDDEN_LABELS]
    check(not hidden, f"hidden labels are exposed: {hidden}")


def run_main_loop(seconds, done):
    """Lets events arrive for up to SECONDS, until done() holds."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        while context.pending():
            context.iteration(False)
        time.sleep(0.05)


def menu():
    # A popup menu is no child of the application: a screen reader meets it
    # through the focus events of its items, as here.
    focused = []

    def heard(event):
        if event.detail1 == 1 and event.source is not None:
            focused.append(event.source)

    listener = Atspi.EventListener.new(heard)
    listener.register("object:state-changed:focused")
    # The program learns that someone listens before it sends anything.
    run_main_loop(1, lambda: False)
    subprocess.run(["xdotool", "key", "Down"], check=True)

    def items():
        return [node for node in focused if node.get_role_name() == "menu item"]

    run_main_loop(5, lambda: bool(items()))
    listener.deregister("object:state-changed:focused")
    heard_roles = [node.get_role_name() for node in focused]
    if not check(items(), f"no menu item took the focus (focus went to {heard_roles})"):
        return
    item = items()[0]
    check(item.get_name() == "Открыть", f"the first item is \"{item.get_name()}\"")
    parent = item.get_parent()
    role = parent.get_role_name() if parent is not None else None
    check(role in ("popup menu", "menu"), f"the item's parent is a {role}")
    if parent is not None:
        entries = [parent.get_child_at_index(i) for i in range(parent.get_child_count())]
        entries = [entry.get_name() for entry in entries
                   if entry is not None and entry.get_role_name() == "menu item"]
        for expected in ("Открыть", "Показать в папке", "Переместить в корзину"):
            check(expected in entries, f"no item \"{expected}\" among {entries}")


def folder():
    top = window("Обзор папок")
    check(top.get_role_name() == "dialog", f"the folder dialog is a {top.get_role_name()}")
    nodes = list(descendants(top))
    trees = [node for node in nodes if node.get_name() == "Папки"]
    check(len(trees) == 1 and trees[0].get_role_name() in ("tree", "tree table"),
          f"the folder tree: {[node.get_role_name() for node in trees]} named \"Папки\"")
    paths = [node for node in nodes if node.get_name() == "Путь к папке"]
    check(len(paths) == 1 and paths[0].get_role_name() in TEXT_ROLES,
          f"the path line: {[node.get_role_name() for node in paths]} named \"Путь к папке\"")


def about():
    top = window("О программе")
    links = of_role(top, "link")
    check(names(links) == sorted(["qevra@example.org", "example.org/qevra"]),
          f"links {names(links)}")
    for link in links:
        check(states(link).contains(Atspi.StateType.FOCUSABLE),
              f"the link \"{link.get_name()}\" is not focusable")
        check("Press" in actions(link), f"the link \"{link.get_name()}\" has no Press action")


def status(text):
    top = window("Qevra")
    deadline = time.monotonic() + 5
    bars = of_role(top, "status bar")
    while bars and bars[0].get_name() != text and time.monotonic() < deadline:
        time.sleep(0.1)
    check(bars and bars[0].get_name() == text,
          f"the status bar reads \"{bars[0].get_name() if bars else None}\", not \"{text}\"")


def press(name):
    app = application()
    for node in descendants(app):
        if node.get_role_name() == "push button" and node.get_name() == name and showing(node):
            index = actions(node).index("Press") if "Press" in actions(node) else -1
            if check(index >= 0, f"\"{name}\" has no Press action"):
                check(node.do_action(index), f"pressing \"{name}\" failed")
            return
    problems.append(f"no push button \"{name}\" is shown")


def run():
    commands = {"main": main_window, "editor": editor, "menu": menu, "folder": folder,
                "about": about, "status": status, "press": press}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    Atspi.set_timeout(5000, 20000)
    commands[sys.argv[1]](*sys.argv[2:])
    for problem in problems:
        print(f"atspi: {problem}", file=sys.stderr)
    print(f"atspi: {sys.argv[1]}: {'FAIL' if problems else 'ok'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(run())
