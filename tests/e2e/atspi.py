#!/usr/bin/python3
"""What a screen reader finds of the running program over AT-SPI.

    atspi.py main DIRECTORY   the main window after DIRECTORY was chosen, an
                              extension typed and "По содержанию" checked
    atspi.py editor           the copies editor with a pair chosen
    atspi.py status TEXT      the status bar reads TEXT
    atspi.py press NAME       presses the button NAME through its action

Exit status 0 when everything holds; 1 with the reasons on stderr.
"""
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

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
    shown = names(button for button in of_role(top, "push button") if showing(button))
    for caption in ("Открыть", "Удалить", "Удалить все"):
        check(shown.count(caption) == 2, f"not two \"{caption}\" among {shown}")


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
    commands = {"main": main_window, "editor": editor, "status": status, "press": press}
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
