#!/usr/bin/env python3
"""Writes resources/kmv_meas.uir, the operator program's panel resource file.

The layout lives here as code (columns and connector groups repeat); run this
script after a change and commit both files.
"""
import json
import os

FONT_ROW = 20  # pixels a label takes above its control


def ctrl(id, kind, top, left, **kw):
    c = {"id": id, "kind": kind, "top": top, "left": left}
    c.update(kw)
    return c


def text(id, top, left, value, width=120, **kw):
    return ctrl(id, "text_message", top, left, value=value, width=width, **kw)


def button(id, top, left, label, width=100, **kw):
    return ctrl(id, "command_button", top, left, label=label, width=width, **kw)


# Shortcut keys: Enter presses a dialog's default button (a button or field
# with the focus keeps its own Enter), Escape its cancel button. A dialog's
# close_control is that cancel button: a click on it or on the close box
# drops a name typed and not yet committed, as Escape does.
ENTER, ESCAPE = "0x0500", "0x0400"


# ---- setup-file dialogs --------------------------------------------------------------

def load_panel():
    return {
        "id": 10, "name": "LOAD", "title": "Load TRQ setup file", "width": 560, "height": 400,
        "close_control": 6,
        "controls": [
            text(10, 12, 12, "", width=536, label="Directory", label_visible=False),
            ctrl(2, "string", 52, 12, width=430, label="Setup file", max_length=259),
            button(3, 50, 452, "Browse...", width=96),
            ctrl(7, "list_box", 102, 12, width=536, height=96, label="Recent setup files", data_type="int"),
            ctrl(4, "text_box", 222, 12, width=536, height=100, label="File information"),
            text(9, 330, 12, "Loading TRQ Setup  File will overide all device parameters", width=536,
                 text_color="#C00000"),
            button(5, 360, 12, "Load", width=120, dimmed=True, shortcut="0x1800"),
            button(6, 360, 428, "Cancel", width=120, shortcut=ESCAPE),
        ],
    }


def save_panel():
    return {
        "id": 16, "name": "SAVE", "title": "Save TRQ setup file", "width": 560, "height": 560,
        "close_control": 6,
        "controls": [
            text(12, 12, 12, "", width=536, label="Directory", label_visible=False),
            ctrl(2, "string", 52, 12, width=430, label="Setup file", max_length=259),
            button(3, 50, 452, "Browse...", width=96),
            ctrl(11, "list_box", 102, 12, width=536, height=80, label="Recent setup files", data_type="int"),
            ctrl(7, "string", 206, 12, width=120, label="Version", max_length=127),
            ctrl(8, "string", 206, 144, width=190, label="Author", max_length=127),
            ctrl(9, "string", 206, 346, width=202, label="Company", max_length=127),
            ctrl(10, "text_box", 256, 12, width=536, height=110, label="Contents (up to 12 lines)"),
            ctrl(4, "text_box", 390, 12, width=536, height=110, label="File information", mode="indicator"),
            button(5, 520, 12, "Save", width=120, dimmed=True),
            button(6, 520, 428, "Cancel", width=120, shortcut=ESCAPE),
        ],
    }



# ---- colours ----------------------------------------------------------------------------
GREEN = "#00B000"       # supplies and toggle bits on
ORANGE = "#FF8C00"      # momentary bits
BLUE = "#2A7FFF"        # coolers on
RED = "#E00000"
WARN = "#FFB000"        # overload warning body (blinks with transparent)


# ---- main window (12) ----------------------------------------------------------------------
MAIN_W, COL_W = 915, 455
GROUP_W, SWITCH_W = 88, 76
STRIP_H = 166


def col_x(c):
    return 5 + c * COL_W


def group_x(c, g):
    return col_x(c) + 10 + g * GROUP_W


def main_panel():
    cs = []
    names = ["Connector 1", "Connector 2", "Connector 3", "Connector 4", "Digital out"]
    for c in range(2):
        x = col_x(c)
        cs.append(ctrl(55 + c, "decoration", 6, x, width=10 + 4 * GROUP_W + SWITCH_W + 5, height=STRIP_H - 10,
                       fill_color="transparent"))
        cs.append(text(53 + c, 12, x + 10, "Module " + "AB"[c], width=160, text_color="#000080"))
        cs.append(text(50 + 2 * c, 12, x + 250, "USB connection lost", width=190, text_color=RED, visible=False))
        for g in range(5):
            gx = group_x(c, g)
            out = (2 if c == 0 else 7) + g
            cs.append(ctrl(out, "toggle", 50, gx, width=SWITCH_W, height=24, label=names[g], on_color=GREEN,
                           callback="TrqCtrlCallback", hover="Enable the outputs of this connector"))
            if g == 4:
                continue
            led = (12 if c == 0 else 17) + g
            warn = (38 if c == 0 else 42) + g
            rst = (30 if c == 0 else 34) + g
            ilim = (22 if c == 0 else 26) + g
            cs.append(ctrl(warn, "decoration", 80, gx - 3, width=SWITCH_W + 8, height=24, fill_color=WARN,
                           visible=False))
            cs.append(ctrl(led, "led", 83, gx, label="Overload", label_top=84, label_left=gx + 21,
                           on_color=RED, mode="indicator"))
            cs.append(button(rst, 108, gx, "Reset", width=SWITCH_W, visible=False, callback="TrqCtrlCallback",
                             hover="Clear the overload of this connector"))
            cs.append(text(ilim, 138, gx, "Current limit", width=SWITCH_W + 8, text_color=RED, visible=False))
        dx = group_x(c, 4)
        cs.append(button(16 if c == 0 else 21, 80, dx, "All off", width=SWITCH_W, height=24, callback="TrqCtrlCallback",
                         hover="Switch every output off"))
    dx = group_x(0, 4)
    cs.append(button(47, 106, dx, "View", width=SWITCH_W, height=24, callback="TrqCtrlCallback"))
    cs.append(button(48, 132, dx, "Quit", width=SWITCH_W, height=24, callback="ExitCallbackUsb"))
    cs.append(ctrl(51, "string", 0, 0, width=100, height=22, max_length=11, visible=False,
                   label_visible=False, callback="TrqCtrlCallback"))
    cs.append(ctrl(46, "tab", STRIP_H, 5, width=MAIN_W - 10, height=CONF_H + 34, pages=[]))
    cs.append(ctrl(49, "timer", 0, 0, interval=0.5, enabled=False, callback="TimerCallback"))
    return {"id": 12, "name": "MAIN_USB", "title": "TRQ", "width": MAIN_W, "height": STRIP_H + CONF_H + 40,
            "close_control": 48, "callback": "PanelCallback", "controls": cs}


# ---- configuration page (2) ------------------------------------------------------------------
CONF_H = 450
CONN_W = 105

P12 = [[2, 9, 18, 25], [40, 47, 54, 61]]
P5 = [[3, 10, 19, 26], [41, 48, 55, 62]]
M5 = [[4, 11, 20, 27], [42, 49, 56, 63]]
GHV = [[5, 12, 21, 28], [43, 50, 57, 64]]
COOL = [[6, 13, 22, 29], [44, 51, 58, 65]]
CURR = [[7, 14, 23, 30], [45, 52, 59, 66]]
VOLT = [[8, 15, 24, 31], [46, 53, 60, 67]]
DIGOUT = [[39, 38, 37, 36, 35, 34, 33, 32], [75, 74, 73, 72, 71, 70, 69, 68]]
# Headings and frames of each column (hidden with the column).
TITLE = [76, 77]
CONN_FRAME = [[96, 97, 98, 99], [78, 79, 80, 81]]
CONN_HEAD = [[100, 101, 102, 103], [82, 83, 84, 85]]
COOL_FRAME = [[104, 105, 106, 107], [86, 87, 88, 89]]
COOL_HEAD = [[110, 111, 113, 114], [92, 93, 94, 95]]
DIG_FRAME = [108, 90]
DIG_HEAD = [109, 91]
SET_OUTPUTS = [17, 16]


def conf_panel():
    cs = []
    cb = "MainCtrlCallback"
    for c in range(2):
        x = 4 + c * COL_W
        cs.append(text(TITLE[c], 4, x + 4, "Module " + "AB"[c], width=200, text_color="#000080"))
        for n in range(4):
            fx = x + n * (CONN_W + 3)
            cs.append(ctrl(CONN_FRAME[c][n], "decoration", 24, fx, width=CONN_W, height=298,
                           fill_color="transparent"))
            cs.append(text(CONN_HEAD[c][n], 28, fx + 6, "Connector %d" % (n + 1), width=CONN_W - 12))
            for k, (table, lab) in enumerate(((P12, "+12 V"), (P5, "+5 V"), (M5, "−5 V"))):
                y = 50 + 28 * k
                cs.append(ctrl(table[c][n], "toggle", y, fx + 56, width=44, height=22, label=lab,
                               label_top=y + 3, label_left=fx + 8, on_color=GREEN, callback=cb))
            cs.append(ctrl(GHV[c][n], "numeric", 152, fx + 6, width=CONN_W - 12, height=24, label="Gain HV (%)",
                           data_type="float", min=0, max=100, precision=1, callback=cb,
                           hover="Gain high voltage, 0 to the connector's limit"))
            cs.append(ctrl(COOL_FRAME[c][n], "decoration", 184, fx + 3, width=CONN_W - 6, height=134,
                           fill_color="transparent"))
            cs.append(text(COOL_HEAD[c][n], 192, fx + 8, "Cooler", width=46))
            cs.append(ctrl(COOL[c][n], "toggle", 189, fx + 56, width=44, height=22, on_color=BLUE, callback=cb,
                           label="Cooler", label_visible=False))
            cs.append(ctrl(VOLT[c][n], "numeric", 234, fx + 6, width=CONN_W - 12, height=24, label="Voltage (V)",
                           data_type="float", min=0, max=5, precision=2, callback=cb, dimmed=True))
            cs.append(ctrl(CURR[c][n], "numeric", 284, fx + 6, width=CONN_W - 12, height=24, label="Current (A)",
                           data_type="float", min=0, max=2, precision=2, callback=cb, dimmed=True))
        cs.append(ctrl(DIG_FRAME[c], "decoration", 328, x, width=4 * CONN_W + 9, height=80,
                       fill_color="transparent"))
        cs.append(text(DIG_HEAD[c], 332, x + 6, "Digital outputs", width=200))
        for b in range(8):
            colour = ORANGE if (c == 0 and b == 0) else GREEN
            cs.append(ctrl(DIGOUT[c][b], "toggle", 374, x + 10 + 52 * b, width=44, height=22,
                           label="Bit %d" % b, on_color=colour, callback=cb))
        cs.append(button(SET_OUTPUTS[c], 416, x + 4, "Outputs by supplies", width=170, callback=cb,
                         hover="Enable the outputs of every connector with a supply on"))
    cs.append(ctrl(112, "string", 0, 0, width=100, height=22, max_length=11, visible=False,
                   label_visible=False, callback="MainCtrlCallback"))
    return {"id": 2, "name": "CONF", "title": "Configuration", "width": MAIN_W - 14, "height": CONF_H,
            "callback": "TrqConf_Callback", "controls": cs}


# ---- EEPROM page (4) ------------------------------------------------------------------------
def eeprom_panel():
    cs = []
    cb = "TRQ_AdjustCallback"
    for c in range(2):
        o = 13 * c
        x = 4 + c * COL_W
        cs.append(text(2 + o, 4, x + 4, "Module " + "AB"[c], width=200, text_color="#000080"))
        cs.append(ctrl(3 + o, "decoration", 24, x, width=430, height=280, fill_color="transparent"))
        cs.append(ctrl(4 + o, "string", 52, x + 12, width=200, label="Module name", max_length=15, callback=cb))
        cs.append(ctrl(5 + o, "string", 102, x + 12, width=200, label="Serial number", max_length=15, callback=cb))
        cs.append(ctrl(6 + o, "string", 152, x + 12, width=200, label="Date", max_length=15, callback=cb))
        cs.append(button(7 + o, 196, x + 12, "Read EEPROM", width=98, callback=cb))
        cs.append(button(8 + o, 196, x + 114, "Write EEPROM", width=98, dimmed=True, callback=cb))
        cs.append(ctrl(9 + o, "numeric", 246, x + 12, width=120, label="Access code", data_type="int", min=0,
                       max=99999, visible=False, callback=cb))
        cs.append(text(10 + o, 32, x + 236, "Gain limits (%)", width=180))
        for n in range(4):
            cs.append(ctrl(11 + o + n, "numeric", 72 + 50 * n, x + 236, width=100, label="Connector %d" % (n + 1),
                           data_type="short", min=0, max=255, callback=cb))
    return {"id": 4, "name": "TRQEEP", "title": "EEPROM", "width": MAIN_W - 14, "height": CONF_H,
            "callback": "Trqeep_Callback", "controls": cs}


# ---- options page (5) -------------------------------------------------------------------------
def options_panel():
    cb = "OptCtrlCallback"
    cs = [
        ctrl(2, "string", 30, 12, width=318, label="Setup-file directory", max_length=259, callback=cb),
        button(3, 28, 338, "Browse...", width=90, callback=cb),
        ctrl(4, "check_box", 76, 12, label="Scale panel contents when the window is resized", callback=cb),
        ctrl(5, "check_box", 102, 12, label="Main window stays on top", callback=cb),
        text(18, 140, 52, "Outputs locked at start", width=200, text_color="#000080"),
        text(11, 166, 12, "Module A", width=100),
        text(12, 166, 132, "Module B", width=100),
    ]
    names = ["Connector 1", "Connector 2", "Connector 3", "Connector 4", "Digital out"]
    for k in range(5):
        cs.append(ctrl(6 + k, "check_box", 190 + 24 * k, 12, label=names[k], callback=cb))
        cs.append(ctrl(13 + k, "check_box", 190 + 24 * k, 132, label=names[k], callback=cb))
    cs.append(button(20, 330, 12, "Load setup...", width=130, callback="LoadTrqCallback"))
    cs.append(button(19, 330, 156, "Save setup...", width=130, callback="SaveTrqCallback"))
    return {"id": 5, "name": "TRQOPT", "title": "Options", "width": MAIN_W - 14, "height": CONF_H,
            "callback": "Trqopt_Callback", "controls": cs}


# ---- start-up information dialog (9) and module list (14) -------------------------------------
def info_panel():
    return {
        "id": 9, "name": "INFOU", "title": "TRQ v.1.20", "width": 600, "height": 380, "close_control": 6,
        "controls": [
            text(16, 10, 12, "", width=576),
            text(8, 34, 12, "", width=576, label="Configuration file", label_visible=False),
            ctrl(9, "ring", 70, 12, width=160, label="Mode", data_type="int",
                 items=[{"label": "Hardware", "value": 0}, {"label": "Emulation", "value": 200}]),
            text(13, 74, 190, "", width=260, text_color="#008000"),
            text(14, 292, 12, "", width=300, text_color="#008000"),
            button(10, 330, 12, "Apply", width=110),
            button(7, 330, 244, "Start", width=110),
            button(6, 330, 478, "Quit", width=110),
        ],
    }


def module_list_panel():
    cs = []
    for i in range(4):
        cs.append(ctrl(2 + i, "check_box", 12 + 32 * i, 10, label="", label_visible=False))
        cs.append(text(9 - i, 12 + 32 * i, 36, "M%d -  Not found" % (i + 1), width=530))
    return {"id": 14, "title": "Modules", "top": 108, "left": 12, "width": 576, "height": 140, "controls": cs}


# ---- small popups ------------------------------------------------------------------------------
def quit_panel():
    return {
        "id": 6, "title": "Quit TRQ", "width": 340, "height": 130, "close_control": 3,
        "controls": [
            text(5, 14, 16, "Quit the program?", width=300),
            ctrl(4, "check_box", 46, 16, label="Save the setup to trq_auto.set", value=1),
            button(2, 88, 16, "Quit", width=110, shortcut=ENTER),
            button(3, 88, 214, "Cancel", width=110, shortcut=ESCAPE),
        ],
    }


def eeprom_done_panel():
    return {"id": 17, "title": "EEPROM", "width": 240, "height": 60,
            "controls": [text(2, 20, 20, "EEPROM access done", width=200)]}


def pci_adjust_panel():
    cb = "AdjustCallback"
    return {
        "id": 1, "name": "ADJUST", "title": "KMV-100 adjust data", "width": 420, "height": 300,
        "close_control": 8, "callback": "Apar_Callback",
        "controls": [
            ctrl(10, "ring", 30, 12, width=160, label="Card", data_type="int", items=[], callback=cb),
            ctrl(2, "string", 80, 12, width=180, label="Serial number", max_length=11, callback=cb),
            ctrl(3, "string", 130, 12, width=180, label="Date", max_length=11, callback=cb),
            ctrl(4, "numeric", 80, 230, width=100, label="Gain limit C1 (%)", data_type="short", min=0, max=255,
                 callback=cb),
            ctrl(5, "numeric", 130, 230, width=100, label="Gain limit C3 (%)", data_type="short", min=0, max=255,
                 callback=cb),
            ctrl(9, "numeric", 180, 12, width=120, label="Access code", data_type="int", min=0, max=99999,
                 visible=False, callback=cb),
            button(6, 250, 12, "Read", width=110, callback=cb),
            button(7, 250, 150, "Write", width=110, callback=cb),
            button(8, 250, 290, "Close", width=110, callback=cb),
        ],
    }


# ---- menu bars ----------------------------------------------------------------------------------
def menubars():
    # Context menus: bar 2 of a digital-output bit; bar 3 of a gain or an
    # output switch, with the window's view settings beside the rename.
    return [
        {"id": 2, "context": True, "menus": [{"id": 2, "label": "Digital output", "items": [
            {"id": 3, "label": "Rename..."},
            {"id": 6, "label": "Toggle"},
            {"id": 7, "label": "Momentary"},
            {"id": 8, "label": "Inverted"}]}]},
        {"id": 3, "context": True, "menus": [
            {"id": 2, "label": "Label", "items": [
                {"id": 3, "label": "Rename..."},
                {"id": 9, "label": "Scale contents on resize", "callback": "ScaleCallback"},
                {"id": 10, "label": "Window on top", "callback": "FloatCallback"},
                {"id": 11, "label": "Enable outputs", "callback": "EnOutCallback"}]}]},
    ]


def resource():
    return {
        "format": "trq-ui-resource", "version": 1,
        "comment": "Generated by scripts/gen_kmv_meas_uir.py",
        "panels": [main_panel(), conf_panel(), eeprom_panel(), options_panel(), info_panel(),
                   module_list_panel(), quit_panel(), load_panel(), save_panel(), eeprom_done_panel(),
                   pci_adjust_panel()],
        "menubars": menubars(),
    }


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "..", "resources", "kmv_meas.uir")
    with open(out, "w", encoding="utf-8") as f:
        json.dump(resource(), f, indent=1)
        f.write("\n")
