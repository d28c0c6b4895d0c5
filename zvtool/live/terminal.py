"""A terminal for a full-screen live view over ssh or a plain console: keys read one at a time
without echo, the picture redrawn in place with ANSI sequences on the alternate screen, and the
terminal given back as it was on every way out."""
import os
import select
import shutil
import sys
import termios
import tty

ENTER, LEAVE = "\x1b[?1049h\x1b[?25l", "\x1b[?25h\x1b[?1049l"  # alternate screen, cursor
HOME, CLEAR_LINE, CLEAR_BELOW = "\x1b[H", "\x1b[K", "\x1b[J"


class Terminal:
    def __init__(self, stdin=sys.stdin, stdout=sys.stdout):
        self.stdin, self.stdout = stdin, stdout
        self._saved = None

    def __enter__(self):
        if self.stdin.isatty():
            fd = self.stdin.fileno()
            self._saved = termios.tcgetattr(fd)
            tty.setcbreak(fd)  # keys at once, no echo; Ctrl-C still interrupts
        self.stdout.write(ENTER)
        self.stdout.flush()
        return self

    def __exit__(self, *exc):
        self.stdout.write(LEAVE)
        self.stdout.flush()
        if self._saved is not None:
            termios.tcsetattr(self.stdin.fileno(), termios.TCSADRAIN, self._saved)
        return False

    def width(self):
        return shutil.get_terminal_size().columns

    def keys(self):
        """The keys pressed since the last call, without waiting."""
        if self._saved is None:
            return ""
        fd = self.stdin.fileno()
        pressed = ""
        while select.select([fd], [], [], 0)[0]:
            chunk = os.read(fd, 64)
            if not chunk:
                break
            pressed += chunk.decode("utf-8", "replace")
        return pressed

    def draw(self, lines):
        """Redraws the picture from the top; lines beyond the terminal's height are left out
        (a last line would scroll the picture)."""
        lines = lines[:max(1, shutil.get_terminal_size().lines - 1)]
        self.stdout.write(HOME + "".join(line + CLEAR_LINE + "\r\n" for line in lines) +
                          CLEAR_BELOW)
        self.stdout.flush()
