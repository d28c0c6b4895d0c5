"""The scope's acquisition: a thread of its own reads the source in short blocks, feeds the
frame producer and hands a frame to the server at most `fps` times a second. View settings are
queued to it and applied between blocks, so the producer is only ever used from this thread
(its snapshots excepted, which lock). When reading fails (the detector unplugged, say), the
pages are told and the detector is looked for until it is back; the server keeps serving."""
import queue
import threading
import time

from zvtool.scope.frames import FrameProducer

READ_SECONDS = 0.02  # samples per read: short blocks keep the latency low
READ_TIMEOUT = 0.5  # the thread looks at its stop flag at least this often
RETRY_SECONDS = 1.0  # how often a detector that failed is looked for
UNPLUGGED = 32  # libzv's error code of a failed USB transfer: the detector is gone


class Acquisition:
    def __init__(self, source, publish, notify, fps=30, **producer_options):
        """publish(frame) and notify(text) are called on this thread; notify tells the pages of
        a failure to read (and "" once reading works again)."""
        self.source = source
        self.producer = FrameProducer(source.samplerate, **producer_options)
        self.publish = publish
        self.notify = notify
        self.period = 1.0 / fps
        self.samples_read = 0  # for the figures of /stats
        self._views = queue.SimpleQueue()
        self._view = dict(self.producer.view)  # as asked for; the producer follows shortly
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="zv scope acquisition",
                                        daemon=True)

    def start(self):
        self._thread.start()

    def stop(self):
        self._stop.set()
        self._thread.join()

    def set_view(self, name, value):
        self._view[name] = value
        self._views.put((name, value))

    def view(self):
        return dict(self._view)

    def _run(self):
        self.source.start()
        generation = self.source.generation
        next_frame = time.monotonic()
        while not self._stop.is_set():
            while not self._views.empty():
                self.producer.set_view(*self._views.get())
            try:
                n = max(1, round(self.source.samplerate * READ_SECONDS))
                block = self.source.read(n, timeout=READ_TIMEOUT)
            except TimeoutError:
                continue
            except Exception as error:  # told to the pages; the server keeps running
                self._reconnect(error)
                continue
            if self.source.generation != generation:  # a new stream: no joining up with the old
                generation = self.source.generation
                self.producer.restart(self.source.samplerate)
            self.samples_read += len(block)
            self.producer.set_samplerate(self.source.samplerate)
            self.producer.feed(block, time.time())
            now = time.monotonic()
            if now >= next_frame:
                next_frame += self.period
                if next_frame < now:  # fell behind: no burst of frames to catch up
                    next_frame = now + self.period
                frame = self.producer.frame()
                if frame is not None:
                    self.publish(frame)
        self.source.stop()

    def _reconnect(self, error):
        """After a failed read: the pages are told, and the detector is looked for until it is
        back (or the scope stops)."""
        serial = self.source.serial
        if getattr(error, "err", None) == UNPLUGGED:
            self.notify(f"the detector {serial} was unplugged or stopped answering: waiting for "
                        "it to be plugged in again")
        else:
            self.notify(f"reading the detector {serial} failed ({error}): trying again")
        while not self._stop.wait(RETRY_SECONDS):
            if self.source.reconnect():
                self.notify("")
                return
