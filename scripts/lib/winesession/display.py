"""The session's private display (an Xvfb of its own), and the X windows Wine
shows, read through libX11 itself: the process a window belongs to, as Wine
sets it (_NET_WM_PID), its class, title and whether it is viewable."""
import ctypes
import ctypes.util
import os
import re
import subprocess
from pathlib import Path

DEFAULT_SCREEN = "1024x768"
SCREEN = re.compile(r"^([1-9][0-9]{2,4})x([1-9][0-9]{2,4})$")


def screen_size(text):
    """(width, height) of a WIDTHxHEIGHT screen size, or None when it is not one."""
    match = SCREEN.match(text)
    return (int(match.group(1)), int(match.group(2))) if match else None


class PrivateDisplay:
    """An Xvfb with a display number it picks itself (other displays may exist
    on the machine) and an authority file in `folder`; sets DISPLAY and
    XAUTHORITY in `environment` once it runs."""

    def __init__(self, folder, screen=DEFAULT_SCREEN):
        self.folder = Path(folder)
        self.screen = screen
        self.server = None

    def start(self, environment):
        authority = self.folder / "Xauthority"
        cookie = os.urandom(16).hex()
        authority.write_bytes(b"")
        # The server accepts every cookie in its authority file, whatever display
        # the entry names; clients look theirs up by the number, added below.
        self._xauth(authority, ":0", cookie)
        reading, writing = os.pipe()
        try:
            self.server = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writing), "-auth", str(authority), "-screen", "0", f"{self.screen}x24",
                 "-nolisten", "tcp"], pass_fds=[writing], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
        except OSError:
            os.close(reading)
            os.close(writing)
            return False
        os.close(writing)
        with os.fdopen(reading) as answer:
            number = answer.readline().strip()
        if not number.isdigit():
            self.stop()
            return False
        self._xauth(authority, f":{number}", cookie)
        environment.update(DISPLAY=f":{number}", XAUTHORITY=str(authority))
        return True

    @staticmethod
    def _xauth(authority, display, cookie):
        subprocess.run(["xauth", "-q", "-f", str(authority), "add", display, ".", cookie], check=True,
                       stdin=subprocess.DEVNULL)

    def stop(self):
        if self.server is None:
            return
        self.server.kill()
        self.server.wait()
        self.server = None


class _ClassHint(ctypes.Structure):
    _fields_ = [("res_name", ctypes.c_void_p), ("res_class", ctypes.c_void_p)]


class _Attributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_x11 = None


def _library():
    global _x11
    if _x11 is not None:
        return _x11
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                               ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                               ctypes.POINTER(ctypes.c_uint)]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XGetWindowProperty.argtypes = [
        ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
        ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
        ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
    x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_Attributes)]
    x11.XGetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_ClassHint)]
    x11.XSetErrorHandler.restype = ctypes.c_void_p
    x11.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
    # A window may go between listing it and reading it; the default handler
    # would end this process on that BadWindow.
    x11.ignore_errors = _ERROR_HANDLER(lambda display, event: 0)
    x11.XSetErrorHandler(x11.ignore_errors)
    _x11 = x11
    return x11


class Windows:
    """The windows of the display DISPLAY names, for the time of a `with`."""

    def __enter__(self):
        self.x11 = _library()
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError(f"cannot open the display {os.environ.get('DISPLAY', '(DISPLAY unset)')}")
        return self

    def __exit__(self, *_):
        self.x11.XCloseDisplay(self.display)

    def all(self):
        """Every window below the root, depth first."""
        found, pending = [], [self.x11.XDefaultRootWindow(self.display)]
        while pending:
            window = pending.pop()
            root, parent, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_uint()
            children = ctypes.POINTER(ctypes.c_ulong)()
            if not self.x11.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                                       ctypes.byref(children), ctypes.byref(count)):
                continue
            below = [children[index] for index in range(count.value)]
            if children:
                self.x11.XFree(children)
            found += below
            pending += below
        return found

    def _property(self, window, name, kind):
        atom = self.x11.XInternAtom(self.display, name.encode(), 1)
        kind_atom = self.x11.XInternAtom(self.display, kind.encode(), 1)
        if not atom or not kind_atom:
            return None, 0, None
        actual, size, items, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        if self.x11.XGetWindowProperty(self.display, window, atom, 0, 1 << 16, 0, kind_atom, ctypes.byref(actual),
                                       ctypes.byref(size), ctypes.byref(items), ctypes.byref(after),
                                       ctypes.byref(data)) != 0 or not data:
            return None, 0, None
        return data, items.value, (actual.value, size.value)

    def process(self, window):
        """The Unix process id Wine gives the window (_NET_WM_PID), or None."""
        data, items, form = self._property(window, "_NET_WM_PID", "CARDINAL")
        if data is None:
            return None
        try:
            # Format 32 comes as C longs.
            return ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[0] if items == 1 and form[1] == 32 else None
        finally:
            self.x11.XFree(data)

    def title(self, window):
        data, items, form = self._property(window, "_NET_WM_NAME", "UTF8_STRING")
        if data is None:
            return ""
        try:
            return ctypes.string_at(data, items).decode(errors="replace") if form[1] == 8 else ""
        finally:
            self.x11.XFree(data)

    def window_class(self, window):
        hint = _ClassHint()
        if not self.x11.XGetClassHint(self.display, window, ctypes.byref(hint)):
            return ""
        try:
            return ctypes.string_at(hint.res_class).decode(errors="replace") if hint.res_class else ""
        finally:
            for text in (hint.res_name, hint.res_class):
                if text:
                    self.x11.XFree(text)

    def viewable(self, window):
        attributes = _Attributes()
        return bool(self.x11.XGetWindowAttributes(self.display, window, ctypes.byref(attributes))) and \
            attributes.map_state == IS_VIEWABLE
