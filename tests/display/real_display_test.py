#!/usr/bin/env python3
"""The interactive build on a real X server, driven as a person would drive it.

Starts Xvfb with the openbox window manager, runs the real kvelv-gui and works it with real
input events (xdotool): the login with a wrong and a right password, encryption and decryption
by keyboard only, the lock message, the overwrite question, the folder chooser with the mouse
(create, a name the file system refuses, rename, delete to the trash), and a decrypt with a
wrong password started from the command line. Every message and question must come on top of
the program's windows with the focus, stay there after the busy indication's delay, and close
with Enter, Escape or a click. Then long jobs under a Norwegian locale, their reads slowed down
(--throttle, an LD_PRELOAD library): the progress dialog moves; Escape, its close button and
"Avbryt" each stop the job (of either container format) within half a second, leaving the old container or folder as it was
and no temporary or staging file; closing the main window during a job asks; Qt's own buttons
say "Ja" and "Nei"; every window has the program's icon and class. Last, a large scale factor
on the screen and the "-encrypt <file>" parameter.

Usage: real_display_test.py --gui <kvelv-gui> --kvelv <kvelv> --throttle <library> [--screenshots <folder>]
Exit code 0 on success, 1 on a failure, 77 when the tools are missing and cannot be installed.
"""

import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Tool -> Debian package. Installed when missing (as root); fonts-liberation is what the main
# window's layout is made for.
TOOLS = {
    "Xvfb": "xvfb",
    "openbox": "openbox",
    "xdotool": "xdotool",
    "xprop": "x11-utils",
    "xwininfo": "x11-utils",
    "import": "imagemagick",
    "convert": "imagemagick",
    "fc-match": "fontconfig",
}
FONT_FILE = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"
SKIP = 77
# The program, its files, the containers, the decrypted files, the current folder.
FOLDERS = ("app", "Dokumenter", "Kryptert", "Dekryptert", "start")

HASH_HEMMELIG = "+x1Y3pm+CrYzYm9OaPcSnQ=="  # Base64 of MD5 of "hemmelig"
LOGIN_CAPTION = " Orv Kvelv: Oppgi passord"
APP_TITLE = "Orv krypterings klient"
# The progress dialog's caption carries the share done.
PROGRESS_CAPTION = re.compile(r"^(\d+) % – Orv Kvelv$")
# A stopped job must have stopped reading within this long after the user's key or click.
STOP_WITHIN = 0.5
# Reads of the slowed-down files, bytes per second: a 24 MB file takes about four seconds.
THROTTLE_RATE = 6000000
# Longer than the busy indication's one-second delay: a message must still be on top after it.
PAST_BUSY_DELAY = 1.6


class Failure(Exception):
    pass


def ensure_tools():
    missing = sorted({pkg for tool, pkg in TOOLS.items() if not shutil.which(tool)})
    if not os.path.exists(FONT_FILE):
        missing.append("fonts-liberation")
    if not missing:
        return True
    if os.geteuid() != 0:
        print("real display test: missing packages %s and not root" % " ".join(missing))
        return False
    print("real display test: installing %s" % " ".join(missing), flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update"], env=env, stdin=subprocess.DEVNULL, check=True)
    subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + missing, env=env,
                   stdin=subprocess.DEVNULL, check=True)
    return True


class Desktop:
    """Xvfb with openbox, and the little that the test needs from them."""

    def __init__(self, home, shots):
        self.home = home
        self.shots = shots
        read_end, write_end = os.pipe()
        # No auto-repeat: on a busy machine xdotool's key release can come late, and the server
        # would repeat the key (a second Return that closes the dialog behind an editor).
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-r", "-ardelay", "30000"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env = dict(os.environ, DISPLAY=":" + number, HOME=home, XDG_RUNTIME_DIR=runtime)
        for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.openbox = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_for(lambda: "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                 "openbox to manage the screen")

    def close(self):
        for process in (self.openbox, self.xvfb):
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()

    def run(self, *args):
        result = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                                stdin=subprocess.DEVNULL)
        return result.stdout

    def key(self, *keys):
        self.run("xdotool", "key", "--delay", "40", *keys)

    def type(self, text):
        self.run("xdotool", "type", "--delay", "15", text)

    def click(self, window, x, y):
        self.run("xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1")

    def active(self):
        out = self.run("xdotool", "getactivewindow").strip()
        return int(out) if out.isdigit() else None

    def name(self, window):
        return self.run("xdotool", "getwindowname", str(window)).rstrip("\n")

    def windows(self, pid):
        """The program's windows that are shown, as {id: caption}."""
        out = self.run("xdotool", "search", "--onlyvisible", "--pid", str(pid))
        return {int(w): self.name(w) for w in out.split()}

    def stacking(self):
        """Client windows from bottom to top."""
        out = self.run("xprop", "-root", "_NET_CLIENT_LIST_STACKING")
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def frame(self, window):
        """(x, y, width, height) of the window with the frame the window manager gives it."""
        out = self.run("xwininfo", "-id", str(window))
        field = lambda label: int(re.search(label + r":\s+(-?\d+)", out).group(1))
        left, right, top, bottom = self.extents(window)
        return (field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                field("Width") + left + right, field("Height") + top + bottom)

    def size(self, window):
        """(width, height) of the window without a frame."""
        out = self.run("xwininfo", "-id", str(window))
        return tuple(int(re.search(label + r":\s+(\d+)", out).group(1)) for label in ("Width", "Height"))

    def on_screen(self, window):
        """Whether the window with its frame lies wholly on the 1024x768 screen; and the frame."""
        x, y, width, height = self.frame(window)
        return x >= 0 and y >= 0 and x + width <= 1024 and y + height <= 768, (x, y, width, height)

    def extents(self, window):
        out = self.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS")
        numbers = [int(n) for n in re.findall(r"\d+", out.split("=", 1)[-1])] if "=" in out else []
        return numbers or [0, 0, 0, 0]

    def click_close_button(self, window):
        """Clicks the close button the window manager draws at the right of the title bar."""
        x, y, width, _ = self.frame(window)
        top = self.extents(window)[2]
        self.run("xdotool", "mousemove", str(x + width - 11), str(y + max(top // 2, 4)), "click", "1")

    def identity(self, window):
        """(WM_CLASS, whether an icon is set) of the window."""
        wm_class = self.run("xprop", "-id", str(window), "WM_CLASS").split("=", 1)[-1].strip()
        icon = "Icon (" in self.run("xprop", "-id", str(window), "_NET_WM_ICON")
        return wm_class, icon

    def screenshot(self, name, window):
        if not self.shots:
            return
        x, y, width, height = self.frame(window)
        self.run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                 "+repage", os.path.join(self.shots, name + ".png"))


def wait_for(condition, what, timeout=15.0):
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok: " + what, flush=True)


def caption_text_width(desktop, caption):
    """Width of a caption in openbox's title font (sans, bold, 8 points at 96 dpi)."""
    font = desktop.run("fc-match", "-f", "%{file}", "sans:bold")
    out = desktop.run("convert", "-density", "96", "-font", font, "-pointsize", "8",
                      "label:" + caption, "-format", "%w", "info:")
    if not out.strip().isdigit():
        raise Failure("cannot measure the caption '%s' in %s" % (caption, font))
    return int(out)


class Session:
    """One run of kvelv-gui."""

    def __init__(self, desktop, gui, arguments, cwd, log, env=None):
        self.desktop = desktop
        self.process = subprocess.Popen([gui] + arguments, cwd=cwd, env=dict(
            desktop.env, QT_QPA_PLATFORM="xcb", **dict({"LC_ALL": "C.UTF-8"}, **(env or {}))),
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        self.main = None

    def window(self, caption):
        """Waits for a shown window of the program with this caption; gives its id."""
        def find():
            for window, name in self.desktop.windows(self.process.pid).items():
                if name == caption and window != self.main:
                    return window
            return None
        return wait_for(find, "the window '%s'" % caption)

    def expect_on_top(self, caption, text_hint="", behind=()):
        """A message or question: shown, active, above every other window of the program, and
        still so once the busy indication's delay has passed. Only the main window and the
        windows `behind` may be shown besides it."""
        box = self.window(caption)
        wait_for(lambda: self.desktop.active() == box, "'%s' to get the focus" % caption)
        time.sleep(PAST_BUSY_DELAY)
        mine = self.desktop.windows(self.process.pid)
        check(self.desktop.active() == box,
              "'%s'%s has the focus after the busy delay" % (caption, text_hint))
        order = [w for w in self.desktop.stacking() if w in mine]
        check(order and order[-1] == box, "'%s' is on top of the program's windows" % caption)
        others = sorted(name for w, name in mine.items() if w not in (box, self.main) + tuple(behind))
        check(not others, "no other window (busy indication) is shown with '%s': %s" % (caption, others))
        return box

    def answer(self, box, key):
        self.desktop.key(key)
        wait_for(lambda: box not in self.desktop.windows(self.process.pid),
                 "the message to close on " + key)

    def click_ok(self, box):
        """Clicks the box's only button, at the right end of its bottom row."""
        width, height = self.desktop.size(box)
        self.desktop.click(box, width - 50, height - 24)
        wait_for(lambda: box not in self.desktop.windows(self.process.pid), "the message to close on a click")

    def expect_message_answered_by(self, caption, key, text_hint="", behind=()):
        box = self.expect_on_top(caption, text_hint, behind)
        self.answer(box, key)
        check(True, "'%s'%s closes with %s" % (caption, text_hint, key))

    def check_identity(self, window, what):
        wm_class, icon = self.desktop.identity(window)
        check(wm_class == '"kvelv-gui", "kvelv-gui"' and icon,
              "%s has the class of the desktop entry and the program's icon (%s)" % (what, wm_class))

    def progress_dialog(self):
        """Waits for the progress dialog; gives its id."""
        def find():
            for window, name in self.desktop.windows(self.process.pid).items():
                if PROGRESS_CAPTION.match(name):
                    return window
            return None
        return wait_for(find, "the progress dialog")

    def percent(self, dialog):
        match = PROGRESS_CAPTION.match(self.desktop.name(dialog))
        return int(match.group(1)) if match else -1

    def log_in(self, password):
        """Types the password into the login dialog; waits for the main window to get the focus."""
        login = self.window(LOGIN_CAPTION)
        wait_for(lambda: self.desktop.active() == login, "the password dialog to get the focus")
        self.desktop.type(password)
        self.desktop.key("Return")
        self.main = self.window("Orv Kvelv")
        self.back_to_main()

    def back_to_main(self):
        wait_for(lambda: self.desktop.active() == self.main, "the main window to get the focus back")

    def close_main(self):
        self.desktop.key("alt+F4")
        self.expect_exit("kvelv-gui ends when its main window is closed")

    def expect_exit(self, what):
        try:
            code = self.process.wait(15)
        except subprocess.TimeoutExpired:
            raise Failure("timed out: " + what)
        check(code == 0, "%s, with exit code 0 (%d)" % (what, code))

    def kill(self):
        if sys.exc_info()[0] is not None and self.desktop.shots:
            # The screen as it was when the failure was seen, before the program goes.
            self.desktop.run("import", "-window", "root", os.path.join(self.desktop.shots, "failure.png"))
            print("screen at the failure: " + os.path.join(self.desktop.shots, "failure.png"))
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def install(gui, folder, ini_lines):
    """A copy of kvelv-gui in `folder` (made) with its settings file; the copy's path."""
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "kvelv-gui")
    shutil.copy2(gui, exe)
    write_ini(exe + ".ini", ini_lines)
    return exe


def write_ini(path, lines):
    with open(path, "w", newline="") as ini:
        ini.write("".join(line + "\r\n" for line in lines))


def read_ini_value(path, key):
    with open(path, encoding="utf-8") as ini:
        for line in ini:
            if line.split("=", 1)[0].strip().lower() == key.lower():
                return line.split("=", 1)[1].strip()
    return None


def first_session(desktop, gui, work, log):
    """Login, keyboard-only encrypt and decrypt, lock and overwrite questions, folder chooser."""
    app, data, sealed, opened, start = (os.path.join(work, n) for n in FOLDERS)
    exe = os.path.join(app, "kvelv-gui")
    ini = exe + ".ini"
    source = os.path.join(data, "rapport.txt")
    with open(source, "w") as f:
        f.write("Årsrapport\n" * 1000)
    write_ini(ini, ["[Password]", "hash=" + HASH_HEMMELIG, "[Placement]", "Top=40", "Left=40",
                    "[LastUsedPaths]", "FileToEncrypt=" + source, "EncryptToFolder=" + sealed,
                    "EncryptedFile=", "DecryptToFolder=" + opened])

    s = Session(desktop, exe, [], start, log)
    try:
        login = s.window(LOGIN_CAPTION)
        wait_for(lambda: desktop.active() == login, "the password dialog to get the focus")
        check(desktop.extents(login) == [0, 0, 0, 0],
              "the password dialog has no window manager title bar (no buttons, no window menu)")
        desktop.type("feil")
        desktop.screenshot("password-dialog", login)
        desktop.key("Return")
        s.expect_message_answered_by(APP_TITLE, "Return", " (wrong password)")
        s.log_in("hemmelig")  # the rejected text is selected, so this replaces it
        check(True, "the right password opens the main window")

        # Keyboard only from here: "Krypter fil" has the focus, Enter presses it.
        desktop.key("Return")
        s.expect_message_answered_by(APP_TITLE, "Return", " (encrypted)")
        containers = [n for n in os.listdir(sealed) if n.endswith(".orvkvelv")]
        check(len(containers) == 1, "Enter on the focused button encrypted the file")
        container = os.path.join(sealed, containers[0])
        s.back_to_main()
        desktop.screenshot("main-window", s.main)

        # Tab to "Kryptert fil" (eight steps along the tab order, the "Forsterket" box among
        # them), type the container, back to "Dekrypter fil" with Shift+Tab twice.
        desktop.key(*["Tab"] * 8)
        desktop.key("ctrl+a")
        desktop.type(container)
        desktop.key("shift+Tab", "shift+Tab", "KP_Enter")
        s.expect_message_answered_by(APP_TITLE, "Return", " (decrypted)")
        decrypted = os.path.join(opened, "rapport.txt")
        check(os.path.isfile(decrypted) and open(decrypted).read() == open(source).read(),
              "keypad Enter decrypted the container by keyboard only")
        s.back_to_main()

        # Again, with the target held open by "another program": the lock message, then the
        # overwrite question, both within one job.
        with open(decrypted, "rb+") as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            desktop.key("Return")
            box = s.expect_on_top("Filen er låst av ett annet program")
            check(desktop.frame(box)[2] >= caption_text_width(desktop, "Filen er låst av ett annet program") + 100,
                  "the lock message is wide enough for its caption")
            fcntl.flock(held, fcntl.LOCK_UN)
        s.answer(box, "Return")
        box = s.expect_on_top("Filen(e) finnes fra før")
        check(desktop.frame(box)[2] >= caption_text_width(desktop, "Filen(e) finnes fra før") + 100,
              "the overwrite question is wide enough for its caption")
        desktop.screenshot("overwrite-question", box)
        s.answer(box, "Return")
        s.expect_message_answered_by(APP_TITLE, "Return", " (decrypted after Yes)")
        s.back_to_main()
        desktop.key("Return")
        s.expect_message_answered_by("Filen(e) finnes fra før", "Escape", " (No)")
        s.back_to_main()

        # The folder chooser, with the mouse: "..." of "Mappe for kryptert fil".
        desktop.click(s.main, 4 + 563 + 15, 93 + 47 + 10)
        chooser = s.window("Velg mappe for kryptert fil")
        wait_for(lambda: desktop.active() == chooser, "the folder chooser to get the focus")
        desktop.click(chooser, 8 + 40, 4 + 12)  # "Create Folder"
        wait_for(lambda: os.path.isdir(os.path.join(sealed, "New Folder")), "New Folder to be made")
        # The name editor opens in the same click handler that made the folder, so the keys
        # below reach the program after it. A name too long for the file system: a warning, and
        # Enter neither closes the chooser nor drops the editor.
        s.check_identity(chooser, "the folder chooser")
        desktop.key("ctrl+a")
        desktop.type("n" * 300)
        desktop.key("Return")
        s.expect_message_answered_by(APP_TITLE, "Return", " (a name the file system refuses)", (chooser,))
        wait_for(lambda: desktop.active() == chooser, "the folder chooser to get the focus back")
        check(chooser in desktop.windows(s.process.pid) and os.path.isdir(os.path.join(sealed, "New Folder")),
              "the refused name left the chooser open and the folder as it was")
        desktop.key("ctrl+a")  # the editor is still open, with the refused name
        desktop.type("Arkiv")
        desktop.key("Return")
        renamed = os.path.join(sealed, "Arkiv")
        wait_for(lambda: os.path.isdir(renamed), "the new folder to be renamed in place")
        check(True, "a new folder is made and renamed in place")
        time.sleep(0.5)
        desktop.screenshot("folder-chooser", chooser)
        desktop.click(chooser, 137 + 30, 4 + 12)  # "Delete"
        s.expect_message_answered_by("Delete Folder", "Return", " (delete question)", (chooser,))
        trash = os.path.join(desktop.home, ".local", "share", "Trash")
        wait_for(lambda: not os.path.exists(renamed), "the folder to be moved away")
        check(os.path.isdir(os.path.join(trash, "files", "Arkiv")) and
              os.path.isfile(os.path.join(trash, "info", "Arkiv.trashinfo")),
              "Delete moved the folder to the user's trash, made where it was missing")
        check(os.listdir(start) == [], "nothing was written into the current folder")
        wait_for(lambda: desktop.active() == chooser, "the folder chooser to get the focus back")
        desktop.key("Return")  # OK: the parent folder is selected again
        wait_for(lambda: chooser not in desktop.windows(s.process.pid), "the folder chooser to close")
        s.back_to_main()

        # "Forsterket" ticked with the mouse: "Krypter fil" then writes the sealed format.
        before = set(os.listdir(sealed))
        desktop.click(s.main, 4 + 599 + 8, 93 + 58 + 8)
        desktop.click(s.main, 4 + 599 + 41, 93 + 32 + 12)
        s.expect_message_answered_by(APP_TITLE, "Return", " (encrypted, sealed)")
        s.back_to_main()
        made = [n for n in os.listdir(sealed) if n.endswith(".orvkvelv") and
                (n not in before or n == os.path.basename(container))]
        with open(os.path.join(sealed, sorted(made)[-1]), "rb") as f:
            check(f.read(8) == b"\x89KVL\x00\r\n\x1a", "with Forsterket ticked the container is the sealed format")

        s.close_main()
        check(read_ini_value(ini, "EncryptToFolder") == sealed,
              "the chosen folder went into the edit (and the settings)")
        check(read_ini_value(ini, "Format") == "2", "the ticked box went into the settings")
        return container
    finally:
        s.kill()


def second_session(desktop, gui, work, container, log):
    """A decrypt with a wrong password from the command line; placement and minimum size."""
    exe = install(gui, os.path.join(work, "app2"), ["[Password]", "hash=qj", "[Placement]", "Top=100", "Left=3000",
                                                     "[LastUsedPaths]", "DecryptToFolder=" + os.path.join(work, FOLDERS[3])])
    s = Session(desktop, exe, [container], os.path.join(work, FOLDERS[4]), log)
    try:
        login = s.window(LOGIN_CAPTION)
        wait_for(lambda: desktop.active() == login, "the password dialog to get the focus")
        desktop.type("feil")
        desktop.key("Return")
        s.main = s.window("Orv Kvelv")
        box = s.expect_on_top(APP_TITLE, " (wrong password, from the command line)")
        s.click_ok(box)
        check(True, "the message closes with a click on OK")
        s.back_to_main()
        inside, frame = desktop.on_screen(s.main)
        check(inside, "a stored Left=3000 is brought onto the screen (%d,%d %dx%d)" % frame)
        desktop.run("xdotool", "windowsize", str(s.main), "300", "120")
        time.sleep(0.5)
        _, _, width, height = desktop.frame(s.main)
        check(width >= 420 and height >= 176, "the main window keeps a minimum size (%dx%d)" % (width, height))
        s.close_main()
    finally:
        s.kill()


def folder_state(folder):
    """Every name below `folder` with its bytes (None for a folder)."""
    state = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs:
            state[os.path.relpath(os.path.join(root, name), folder)] = None
        for name in files:
            with open(os.path.join(root, name), "rb") as f:
                state[os.path.relpath(os.path.join(root, name), folder)] = f.read()
    return state


def last_read(log):
    """When the program last read a slowed-down file (the throttle library's log)."""
    try:
        with open(log) as f:
            return max([float(line) for line in f if line.strip()] or [0.0])
    except FileNotFoundError:
        return 0.0


def stop_job(s, reads, dialog, how, result_hint):
    """Stops the running job through its progress dialog: the dialog must be on top with the
    focus and moving; after `how` the job must stop reading within STOP_WITHIN, the dialog go
    only with the job, and the result say so. Gives the result message's id."""
    desktop = s.desktop
    wait_for(lambda: desktop.active() == dialog, "the progress dialog to get the focus")
    first = wait_for(lambda: s.percent(dialog) > 0 and s.percent(dialog), "the progress to start")
    wait_for(lambda: s.percent(dialog) > first, "the progress to move on from %d %%" % first)
    check(True, "the progress dialog moves (%d %% and on)" % first)
    mine = desktop.windows(s.process.pid)
    order = [w for w in desktop.stacking() if w in mine]
    check(order and order[-1] == dialog, "the progress dialog is on top of the program's windows")
    asked = time.monotonic()
    asked = how() or asked  # `how` gives the moment of its last key when it does more before it
    box = s.window(APP_TITLE)
    gone = wait_for(lambda: dialog not in desktop.windows(s.process.pid) and time.monotonic(), "the dialog to go")
    stopped = last_read(reads) - asked
    check(stopped <= STOP_WITHIN, "%s stopped the job within %.1f s (its reads ended %.2f s after, the dialog "
          "went after %.2f s)" % (result_hint, STOP_WITHIN, stopped, gone - asked))
    return box


def progress_session(desktop, gui, kvelv, throttle, work, log):
    """Long jobs under a Norwegian locale with slowed-down reads: progress, the three ways to stop
    a job, closing the main window during a job; Qt's Norwegian buttons; class and icon."""
    base = os.path.join(work, "lang")
    data, sealed, opened, tmp = (os.path.join(base, n) for n in ("data", "sealed", "opened", "tmp"))
    for folder in (data, sealed, opened, tmp):
        os.makedirs(folder)
    # About five seconds of reading, more than the steps below need to stop a job in time.
    source = os.path.join(data, "stor.bin")
    with open(source, "wb") as f:
        f.write(os.urandom(5 * THROTTLE_RATE))
    container = os.path.join(data, "stor.orvkvelv")
    # The same in the sealed format, for a decrypt of format 2 stopped as well.
    strong = os.path.join(data, "sterk.orvkvelv")
    # And a small one, read at full speed, for a decrypt that runs to the overwrite question.
    small_source = os.path.join(base, "stor.bin")
    with open(small_source, "wb") as f:
        f.write(b"a small stor.bin\n")
    small = os.path.join(base, "liten.orvkvelv")
    for plain, sealed_file, fmt in ((source, container, "1"), (source, strong, "2"), (small_source, small, "1")):
        subprocess.run([kvelv, "-encrypt", "-format=" + fmt, "-password=x", "-files=" + plain,
                        "-to_file=" + sealed_file], check=True, stdin=subprocess.DEVNULL)
    with open(os.path.join(sealed, "gammel.orvkvelv"), "wb") as f:
        f.write(b"the old container")
    for name, text in (("stor.bin", b"the old stor.bin"), ("annet.txt", b"another file")):
        with open(os.path.join(opened, name), "wb") as f:
            f.write(text)
    exe = install(gui, os.path.join(base, "app"),
                  ["[Password]", "hash=qj", "[Placement]", "Top=40", "Left=40", "[LastUsedPaths]",
                   "FileToEncrypt=" + source, "EncryptToFolder=" + sealed, "EncryptedFile=" + container,
                   "DecryptToFolder=" + opened])
    reads = os.path.join(base, "reads.log")
    env = {"LD_PRELOAD": throttle, "KVELV_THROTTLE_PATH": data + "/", "KVELV_THROTTLE_RATE": str(THROTTLE_RATE),
           "KVELV_THROTTLE_LOG": reads, "TMPDIR": tmp, "LC_ALL": "nb_NO.UTF-8", "LANG": "nb_NO.UTF-8"}
    sealed_before, opened_before = folder_state(sealed), folder_state(opened)

    def nothing_left(what):
        check(folder_state(sealed) == sealed_before and folder_state(opened) == opened_before and not os.listdir(tmp),
              "%s left the old container and folder as they were, and no temporary or staging file" % what)

    s = Session(desktop, exe, [], base, log, env)
    try:
        s.log_in("x")
        s.check_identity(s.main, "the main window")
        encrypt = (4 + 599 + 40, 93 + 32 + 12)
        decrypt = (4 + 599 + 40, 6 + 30 + 12)

        # Escape asks what "Avbryt" asks; nothing but the job's end closes the dialog.
        desktop.key("Return")  # "Krypter fil" has the focus
        dialog = s.progress_dialog()
        s.check_identity(dialog, "the progress dialog")
        desktop.screenshot("progress-dialog", dialog)
        box = stop_job(s, reads, dialog, lambda: desktop.key("Escape"), "Escape")
        s.check_identity(box, "a message")
        s.answer(box, "Return")
        nothing_left("A stopped encrypt")
        s.back_to_main()

        # The dialog's close button, the same, in the sealed format ("Forsterket" ticked and
        # unticked again).
        strong_box = (4 + 599 + 8, 93 + 58 + 8)
        desktop.click(s.main, *strong_box)
        desktop.click(s.main, *encrypt)
        dialog = s.progress_dialog()
        box = stop_job(s, reads, dialog, lambda: desktop.click_close_button(dialog), "The close button")
        s.answer(box, "Return")
        nothing_left("A sealed encrypt stopped with the close button")
        s.back_to_main()
        desktop.click(s.main, *strong_box)

        def decrypt_container(path):
            desktop.click(s.main, 4 + 128 + 100, 6 + 17 + 10)  # "Kryptert fil"
            desktop.key("ctrl+a")
            desktop.type(path)
            desktop.click(s.main, *decrypt)

        # "Avbryt" itself, in decrypts of both formats into a folder with files of the same names.
        for path, how in ((container, '"Avbryt"'), (strong, '"Avbryt" (sealed)')):
            decrypt_container(path)
            dialog = s.progress_dialog()
            width, height = desktop.size(dialog)
            box = stop_job(s, reads, dialog, lambda: desktop.click(dialog, width - 50, height - 22), how)
            s.answer(box, "Return")
            nothing_left("A decrypt stopped with " + how)
            s.back_to_main()

        # A small container run to its end: the overwrite question has Qt's Norwegian buttons,
        # and Alt+J is "Ja".
        decrypt_container(small)
        box = s.window("Filen(e) finnes fra før")
        wait_for(lambda: desktop.active() == box, "the overwrite question to get the focus")
        desktop.screenshot("overwrite-question-nb", box)
        desktop.key("alt+j")
        wait_for(lambda: box not in desktop.windows(s.process.pid), "the question to close on Alt+J")
        s.expect_message_answered_by(APP_TITLE, "Return", " (decrypted after Ja)")
        with open(os.path.join(opened, "stor.bin"), "rb") as got:
            check(got.read() == b"a small stor.bin\n", "Alt+J answered Ja: the Norwegian buttons are Qt's own")
        opened_before.update(folder_state(opened))
        s.back_to_main()

        # Closing the main window during a job asks (the progress steps aside); Nei goes on with
        # the job, Ja stops it and closes the window.
        def ask_to_stop():
            desktop.click_close_button(s.main)
            question = s.window(APP_TITLE)
            wait_for(lambda: desktop.active() == question, "the question to get the focus")
            mine = desktop.windows(s.process.pid)
            check([w for w in desktop.stacking() if w in mine][-1] == question and dialog not in mine,
                  "closing the main window during a job asks, on top, the progress out of the way")
            return question
        desktop.click(s.main, *encrypt)
        dialog = s.progress_dialog()
        wait_for(lambda: s.percent(dialog) > 0, "the progress to start")
        question = ask_to_stop()
        desktop.screenshot("stop-question", question)
        desktop.key("alt+n")
        wait_for(lambda: question not in desktop.windows(s.process.pid), "the question to close on Alt+N")
        wait_for(lambda: dialog in desktop.windows(s.process.pid), "the progress dialog to come back")
        check(s.process.poll() is None, "Nei keeps the window and the job")
        def answer_yes():
            question = ask_to_stop()
            asked = time.monotonic()
            desktop.key("alt+j")
            wait_for(lambda: question not in desktop.windows(s.process.pid), "the question to close on Alt+J")
            return asked
        box = stop_job(s, reads, dialog, answer_yes, "Ja to closing the window")
        s.answer(box, "Return")
        s.expect_exit("the window closed once the job had stopped")
        nothing_left("A job stopped by closing the window")
    finally:
        s.kill()


def scaled_session(desktop, gui, work, log):
    """A scale factor that makes the screen smaller than the window's designed minimum, and the
    "-encrypt <file>" parameter of the desktop entry's action."""
    exe = install(gui, os.path.join(work, "scaled"), ["[Password]", "hash=qj"])
    chosen = os.path.join(work, FOLDERS[1], "rapport.txt")
    s = Session(desktop, exe, ["-encrypt", chosen], work, log, {"QT_SCALE_FACTOR": "3"})
    try:
        s.log_in("x")
        time.sleep(0.5)
        desktop.screenshot("scaled-main-window", s.main)
        inside, frame = desktop.on_screen(s.main)
        check(inside, "at scale 3 the whole window, its close button too, is on the screen (%d,%d %dx%d)" % frame)
        s.close_main()
        check(read_ini_value(exe + ".ini", "FileToEncrypt") == chosen,
              '"-encrypt <file>" filled in the file to encrypt')
    finally:
        s.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gui", required=True)
    parser.add_argument("--kvelv", required=True)
    parser.add_argument("--throttle", required=True)
    parser.add_argument("--screenshots", default="")
    options = parser.parse_args()
    if not ensure_tools():
        if os.environ.get("CI"):
            print("FAILED: the real display test cannot run in CI without its tools")
            return 1
        print("SKIPPED")
        return SKIP
    if options.screenshots:
        os.makedirs(options.screenshots, exist_ok=True)
    options.throttle = os.path.abspath(options.throttle)  # LD_PRELOAD wants a path from anywhere

    work = tempfile.mkdtemp(prefix="kvelv-display-")
    home = os.path.join(work, "home")  # no ~/.local/share: the trash must be made
    for name in FOLDERS + ("home", "bin"):
        os.makedirs(os.path.join(work, name))
    shutil.copy2(options.gui, os.path.join(work, "app", "kvelv-gui"))
    # The decrypt opens the folder in the desktop shell; record that instead of opening one.
    opener = os.path.join(work, "bin", "xdg-open")
    with open(opener, "w") as f:
        f.write('#!/bin/sh\necho "$1" >> "%s"\n' % os.path.join(work, "opened.log"))
    os.chmod(opener, 0o755)
    os.environ["PATH"] = os.path.join(work, "bin") + os.pathsep + os.environ.get("PATH", "")

    desktop = None
    log = open(os.path.join(work, "kvelv-gui.log"), "w")
    try:
        desktop = Desktop(home, options.screenshots)
        container = first_session(desktop, options.gui, work, log)
        second_session(desktop, options.gui, work, container, log)
        progress_session(desktop, options.gui, options.kvelv, options.throttle, work, log)
        scaled_session(desktop, options.gui, work, log)
        with open(os.path.join(work, "opened.log")) as f:
            opened = [line.replace("file://", "", 1) for line in f.read().split()]
        check(opened.count(os.path.join(work, FOLDERS[3])) == 4,
              "every decrypt opened the target folder in the shell (%d times)" % len(opened))
        print("1 passed, 0 failed")
        return 0
    except Failure as failure:
        print("FAILED: %s" % failure)
        log.flush()
        with open(os.path.join(work, "kvelv-gui.log")) as f:
            output = f.read().strip()
        if output:
            print("kvelv-gui said:\n" + output)
        print("0 passed, 1 failed")
        return 1
    finally:
        log.close()
        if desktop:
            desktop.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
