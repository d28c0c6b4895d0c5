"""A recording started from a live view: the stream's samples go to an HDF5 file through
libzv's recorder (zvpy's Stream.start_recording). While it records, the recorder is the
stream's only reader, so the view waits for it. Driven by the thread that reads the stream; its
status() is safe from any thread."""
import os
import threading

import zvpy


def available():
    """True when this zvpy can record a running stream."""
    return hasattr(zvpy.Stream, "start_recording")


class LiveRecording:
    def __init__(self, stream, path):
        """Starts recording the running stream to `path` (a new file). Raises zvpy.Error or
        OSError (FileExistsError) when it cannot."""
        self.path = path
        self.samplerate = float(stream.samplerate)
        self.recorder = stream.start_recording(path)
        self.running = True
        self.error = ""
        self._lock = threading.Lock()
        self._status = None
        self._refresh()

    def wait(self, timeout):
        """Waits up to `timeout` seconds for the recording to end by itself (a failure: the
        disk full, the detector gone); True once it has ended."""
        try:
            ended = self.recorder.wait(timeout)
        except zvpy.Error as error:
            self.error, ended = str(error), True
        if ended:
            self.running = False
        self._refresh()
        return ended

    def stop(self):
        """Ends the recording and closes the file (what was recorded stays in it)."""
        try:
            self.recorder.stop()
        except zvpy.Error as error:
            self.error = self.error or str(error)
        self.running = False
        self._refresh()

    def status(self):
        """{name, path, running, samples_written, lost_total, seconds, error} as last seen by
        the reading thread."""
        with self._lock:
            return dict(self._status)

    def _refresh(self):
        written = self.recorder.samples_written
        status = {"name": os.path.basename(self.path), "path": self.path,
                  "running": self.running, "samples_written": written,
                  "lost_total": self.recorder.lost_total, "seconds": written / self.samplerate,
                  "error": self.error}
        with self._lock:
            self._status = status
