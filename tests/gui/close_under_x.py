#!/usr/bin/python3
"""torvane-gui under a real X server (run inside xvfb-run).

    close_under_x.py PROGRAM

First start in an empty program folder: the window appears at 600 by 400
with its class and title; the window manager's close request (WM_PROTOCOLS /
WM_DELETE_WINDOW) ends the program, which writes its geometry keys and
MaxDLFiles. Second start: the stored place, size and splitter come back,
and SIGTERM ends it the same way. Exits 1 with a message on any failure.
"""
import configparser
import os
import signal
import subprocess
import sys
import tempfile
import time

from Xlib import X, Xatom, display, protocol

TITLE = "Torvane GUI Ver0.4.8"
TIMEOUT = 30


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def find_window(dpy, deadline):
    """The top-level window titled TITLE, once it is mapped."""
    net_name = dpy.intern_atom("_NET_WM_NAME")
    utf8 = dpy.intern_atom("UTF8_STRING")
    while time.time() < deadline:
        for w in dpy.screen().root.query_tree().children:
            prop = w.get_full_property(net_name, utf8)
            name = prop.value.decode("utf-8", "replace") if prop else w.get_wm_name()
            if name == TITLE and w.get_attributes().map_state == X.IsViewable:
                return w
        time.sleep(0.1)
    fail("no window titled %r appeared" % TITLE)


def placement(dpy, w):
    g = w.get_geometry()
    at = w.translate_coords(dpy.screen().root, 0, 0)
    return (-at.x, -at.y, g.width, g.height)


def request_close(dpy, w):
    protocols = dpy.intern_atom("WM_PROTOCOLS")
    delete = dpy.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=w, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=X.NoEventMask)
    dpy.flush()


def window_keys(home):
    ini = configparser.ConfigParser(strict=False)
    ini.optionxform = str
    ini.read(os.path.join(home, "Torvane.ini"), encoding="utf-8")
    if not ini.has_section("Window"):
        fail("no [Window] section written:\n" + open(os.path.join(home, "Torvane.ini")).read())
    return ini


def run_once(program, home, end):
    env = dict(os.environ, TORVANE_HOME=home, QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(home, "program.log"), "a")
    child = subprocess.Popen([program], cwd=home, env=env, stdout=log, stderr=log)
    dpy = display.Display()
    try:
        w = find_window(dpy, time.time() + TIMEOUT)
        seen = placement(dpy, w)
        wm_class = w.get_wm_class()
        time.sleep(0.5)  # the program's loop is running and its timer ticked
        end(dpy, w, child)
        try:
            code = child.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            child.kill()
            fail("the program did not end after the close request")
        if code != 0:
            fail("the program ended with %d:\n%s" % (code, open(log.name).read()))
        return seen, wm_class
    finally:
        if child.poll() is None:
            child.kill()
        dpy.close()


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as home:
        seen, wm_class = run_once(program, home, lambda d, w, c: request_close(d, w))
        if seen[2:] != (600, 400):
            fail("first start is %dx%d, not 600x400" % seen[2:])
        if not wm_class or "Torvane GUI" not in wm_class:
            fail("window class %r" % (wm_class,))
        ini = window_keys(home)
        keys = dict(ini["Window"])
        for key in ("X", "Y", "Width", "Height", "Iconic", "DivBarX"):
            if key not in keys:
                fail("key %s not written: %r" % (key, keys))
        if (keys["Width"], keys["Height"], keys["Iconic"], keys["DivBarX"]) != ("600", "400", "0", "350"):
            fail("first close wrote %r" % keys)
        if ini.get("SETTING", "MaxDLFiles", fallback=None) != "15":
            fail("MaxDLFiles not written")

        ini["Window"].update({"X": "33", "Y": "44", "Width": "640", "Height": "420", "DivBarX": "300"})
        with open(os.path.join(home, "Torvane.ini"), "w", encoding="utf-8") as f:
            ini.write(f, space_around_delimiters=False)
        seen, _ = run_once(program, home, lambda d, w, c: c.send_signal(signal.SIGTERM))
        if seen != (33, 44, 640, 420):
            fail("second start placed at %r, not (33, 44, 640, 420)" % (seen,))
        keys = dict(window_keys(home)["Window"])
        if (keys["X"], keys["Y"], keys["Width"], keys["Height"], keys["DivBarX"]) != ("33", "44", "640", "420", "300"):
            fail("SIGTERM's ending wrote %r" % keys)
    print("ok")


if __name__ == "__main__":
    main()
