#!/usr/bin/env python3
"""Writes the main window's dialog template for the Windows build from the window's form.

Usage: scripts/make_dialog_rc.py FORM.ui OUTPUT.rc

resources/main_window.ui is the one description of the main window: the Linux build compiles it with
uic, and the Windows build runs this script on it (CMake does, whenever the form changes) to get dialog
template 1000 as a resource statement for windres. Each control of the form becomes one control of the
template with the form's identifier ("controlId"), the rectangle in dialog units ("dialogUnits"), its
text and the window styles its kind of widget stands for (KINDS below).

The template keeps the form's order, which is the tab order, with one change: a label goes right before
the control it names (its "buddy"). Labels take no tab stop, so the order of the tab stops stays the
form's, and screen readers on Windows name a field by the label just before it.

The output is UTF-8; it starts with "#pragma code_page(65001)" so that windres reads it as such. A form
with a widget of an unknown kind, a label naming a missing control, or a tab order that differs from the
order of its tab-stop widgets is refused (exit status 1), so a form that the template cannot express
fails the build instead of producing a different window.
"""

import sys
import xml.etree.ElementTree as ElementTree

# Window class and styles of each kind of widget in the form. Every control is a visible child; edit
# boxes have a sunken client edge.
#   - WidthLimitedLineEdit: a single-line edit without automatic horizontal scrolling, so typing stops
#     at the visible width.
#   - OneLineTextEdit: a multi-line edit one line high in which Enter inserts a line break
#     (ES_WANTRETURN); automatic horizontal scrolling, and automatic vertical scrolling so that the new
#     line fits (without it the edit refuses a line below the visible one).
#   - QLineEdit: a single-line edit with automatic horizontal scrolling.
#   - QComboBox: a drop-down list; editable ones take typed text and scroll it sideways. The height in
#     dialog units includes the dropped list.
#   - UpDownControl: the spin control, vertical, with no buddy window and its default range.
KINDS = {
    "vorsa::runtime::TemplateGroupBox": ("Button", ["BS_GROUPBOX"], []),
    "QPushButton": ("Button", ["BS_PUSHBUTTON", "WS_TABSTOP"], []),
    "QLabel": ("Static", ["SS_LEFT"], []),
    "vorsa::runtime::WidthLimitedLineEdit": ("Edit", ["ES_LEFT", "WS_TABSTOP"], ["WS_EX_CLIENTEDGE"]),
    "vorsa::runtime::OneLineTextEdit": (
        "Edit",
        ["ES_LEFT", "ES_MULTILINE", "ES_WANTRETURN", "ES_AUTOHSCROLL", "ES_AUTOVSCROLL", "WS_TABSTOP"],
        ["WS_EX_CLIENTEDGE"],
    ),
    "QLineEdit": ("Edit", ["ES_LEFT", "ES_AUTOHSCROLL", "WS_TABSTOP"], ["WS_EX_CLIENTEDGE"]),
    "vorsa::runtime::UpDownControl": ("msctls_updown32", [], []),
}
EDITABLE_COMBO = ("ComboBox", ["CBS_DROPDOWN", "CBS_AUTOHSCROLL", "WS_VSCROLL", "WS_TABSTOP"], [])
FIXED_COMBO = ("ComboBox", ["CBS_DROPDOWNLIST", "WS_VSCROLL", "WS_TABSTOP"], [])

# The window: caption, system menu and minimise box, no maximise box and no sizing border, centred on the
# screen; the template's own position only counts where centring does not apply.
WINDOW_STYLES = ["DS_SETFONT", "DS_CENTER", "WS_POPUP", "WS_VISIBLE", "WS_CAPTION", "WS_SYSMENU", "WS_MINIMIZEBOX"]
# The template font's weight, italic flag and character set (GB2312, so that a system whose own code page
# is another finds a Chinese face for "宋体").
FONT_WEIGHT = 400
FONT_ITALIC = 0
FONT_CHARSET = 0x86


class FormError(Exception):
    pass


def prop(widget, name):
    """The value element of property `name` of `widget`, or None."""
    for element in widget.findall("property"):
        if element.get("name") == name:
            return element[0] if len(element) else None
    return None


def text_prop(widget, name, default=""):
    value = prop(widget, name)
    if value is None:
        return default
    return value.text or ""


def rc_string(text):
    """A quoted string for the resource compiler."""
    if "\n" in text or "\r" in text:
        raise FormError(f"a line break in the text {text!r}")
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


def number(value):
    """A number for the resource compiler; windres reads a negative one only in parentheses."""
    return f"({value})" if value < 0 else str(value)


def units(widget):
    value = text_prop(widget, "dialogUnits")
    parts = value.split(",")
    if len(parts) != 4:
        raise FormError(f"{widget.get('name')}: dialogUnits {value!r} is not left,top,width,height")
    return [int(part) for part in parts]


def control_line(widget):
    kind = widget.get("class")
    name = widget.get("name")
    if kind == "QComboBox":
        editable = prop(widget, "editable")
        window_class, styles, extended = EDITABLE_COMBO if editable is not None and editable.text == "true" else FIXED_COMBO
    elif kind in KINDS:
        window_class, styles, extended = KINDS[kind]
    else:
        raise FormError(f"{name}: no template control for a widget of class {kind}")
    identifier = text_prop(widget, "controlId")
    if not identifier:
        raise FormError(f"{name}: no controlId")
    text = text_prop(widget, "title") or text_prop(widget, "text") or text_prop(widget, "plainText")
    left, top, width, height = units(widget)
    style = " | ".join(["WS_CHILD", "WS_VISIBLE"] + styles)
    rectangle = ", ".join(number(value) for value in (left, top, width, height))
    line = f"    CONTROL {rc_string(text)}, {identifier}, \"{window_class}\", {style}, {rectangle}"
    if extended:
        line += ", " + " | ".join(extended)
    return line, "WS_TABSTOP" in styles


def template(form):
    window = form.find("widget")
    if window is None:
        raise FormError("no window in the form")
    identifier = text_prop(window, "controlId")
    left, top, width, height = units(window)
    title = text_prop(window, "windowTitle")
    font = prop(window, "font")
    if font is None or font.find("family") is None or font.find("pointsize") is None:
        raise FormError("the window has no font family and size")
    family = font.find("family").text
    size = int(font.find("pointsize").text)

    widgets = window.findall("widget")
    by_name = {widget.get("name"): widget for widget in widgets}
    # Each label right before the control it names.
    label_of = {}
    for widget in widgets:
        buddy = text_prop(widget, "buddy")
        if widget.get("class") == "QLabel" and buddy:
            if buddy not in by_name:
                raise FormError(f"{widget.get('name')} names the missing control {buddy}")
            label_of[buddy] = widget
    ordered = []
    for widget in widgets:
        if widget.get("class") == "QLabel" and text_prop(widget, "buddy"):
            continue
        if widget.get("name") in label_of:
            ordered.append(label_of[widget.get("name")])
        ordered.append(widget)

    lines = []
    tab_stops = []
    for widget in ordered:
        line, tab_stop = control_line(widget)
        lines.append(line)
        if tab_stop:
            tab_stops.append(widget.get("name"))
    declared = [element.text for element in form.findall("tabstops/tabstop")]
    if declared and declared != tab_stops:
        raise FormError(f"the form's tab order {declared} is not the order of its controls {tab_stops}")

    return "\n".join(
        [
            "// Dialog template of the main window, written by scripts/make_dialog_rc.py from",
            "// resources/main_window.ui: change the form, not this file.",
            "#pragma code_page(65001)",
            "",
            f"{identifier} DIALOGEX " + ", ".join(number(value) for value in (left, top, width, height)),
            "STYLE " + " | ".join(WINDOW_STYLES),
            f"CAPTION {rc_string(title)}",
            f"FONT {size}, {rc_string(family)}, {FONT_WEIGHT}, {FONT_ITALIC}, 0x{FONT_CHARSET:X}",
            "BEGIN",
            *lines,
            "END",
            "",
        ]
    )


def main():
    if len(sys.argv) != 3:
        print("usage: make_dialog_rc.py FORM.ui OUTPUT.rc", file=sys.stderr)
        return 2
    try:
        text = template(ElementTree.parse(sys.argv[1]).getroot())
    except (FormError, ValueError, ElementTree.ParseError) as error:
        print(f"make_dialog_rc.py: {sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
