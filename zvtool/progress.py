"""A one-line progress bar on standard error, shown only on a terminal."""
import sys
import time


class Progress:
    def __init__(self, total, label="samples", stream=sys.stderr):
        self.total = total
        self.label = label
        self.stream = stream
        self.enabled = stream.isatty()
        self.start = time.monotonic()

    def update(self, done):
        if not self.enabled:
            return
        fraction = done / self.total if self.total else 1.0
        filled = int(30 * fraction)
        elapsed = time.monotonic() - self.start
        rate = done / elapsed if elapsed > 0 else 0.0
        self.stream.write(f"\r[{'#' * filled}{'.' * (30 - filled)}] {done}/{self.total} "
                          f"{self.label} ({rate / 1e6:.1f} M/s)")
        self.stream.flush()

    def close(self):
        if self.enabled:
            self.stream.write("\n")
            self.stream.flush()
