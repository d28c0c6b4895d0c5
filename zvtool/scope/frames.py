"""Frames of the scope: what the page draws, made from the blocks a source delivers.

A frame holds the trace as `columns` (minimum, maximum) pairs, the averaged power spectral
density on a logarithmic frequency axis and the mean power since the previous frame, with the
stamps that measure latency: `arrived`, the host time at which the newest sample behind the frame
reached this computer, is set here; the server adds `sent` as the frame leaves.

Traces: in roll mode, the newest `span` seconds (folded from the kept samples, or, for spans
longer than those, column by column as samples arrive); in trigger mode, `span` seconds around
the first edge of a port found after the previous triggered trace was shown, `pretrigger` of
them before the edge. The envelope reducer does the per-sample work on whole stretches, so a
frame costs a few passes over the samples that arrived since the previous one.

Everything runs on the acquisition thread except snapshot(), which takes the lock.
"""
import collections
import math
import threading
import time
from dataclasses import dataclass, field

import numpy

import zvpy
from zvtool.live.settings import view_defaults
from zvtool.scope.history import SampleHistory
from zvtool.scope.roll_columns import RollColumns
from zvtool.scope.spectrum import Spectrum
from zvtool.scope.trigger import find_edge

COLUMNS = 1000
HISTORY_LIMIT = 1 << 24  # samples kept at most (64 MiB of float32)
HISTORY_MIN = 1 << 20
HISTORY_MARGIN = 1 << 21  # beyond twice the span: room for the blocks of a few frames
# The samples behind the newest frames are kept for saving: copied, for spans up to COPY_LIMIT
# samples, while the copies take at most SAVED_BYTES (the page asks for a frame a little after it
# was sent, when a fast stream has long overwritten the kept samples); for longer spans, as
# positions in the kept samples, which a paused view keeps.
COPY_LIMIT = 1 << 22
SAVED_BYTES = 64 << 20
RECENT_FRAMES = 32
WAITING_AFTER_S = 1.0  # a triggered trace this old is reported as waiting for a trigger


@dataclass
class Frame:
    header: dict
    arrays: list = field(default_factory=list)  # (name, float32 array) in order


class FrameProducer:
    def __init__(self, samplerate, columns=COLUMNS, history_limit=HISTORY_LIMIT):
        self.columns = columns
        self.history_limit = history_limit
        self.view = view_defaults()
        self.seq = 0
        self.lost_total = 0
        self.lock = threading.Lock()
        self._recent = collections.OrderedDict()  # seq -> samples, or (first position, count)
        self.spectrum = None
        self.samplerate = None
        self._reset(float(samplerate))

    # ---- Settings ----

    def set_view(self, name, value):
        self.view[name] = value
        if name in ("span", "mode"):
            self._reset(self.samplerate)
        elif name in ("trigger_port", "trigger_edge", "pretrigger"):
            self._reset_trigger()

    def set_samplerate(self, samplerate):
        if samplerate != self.samplerate:
            self._reset(float(samplerate))

    def restart(self, samplerate):
        """The source started a new stream (its positions begin again; its filter may be new):
        the picture, spectrum and kept samples start afresh."""
        self._reset(float(samplerate), spectrum=True)

    def _reset(self, samplerate, spectrum=False):
        if spectrum or samplerate != self.samplerate:
            self.spectrum = Spectrum(samplerate)
        self.samplerate = samplerate
        self.span_samples = max(1, round(self.view["span"] * samplerate))
        wanted = 2 * self.span_samples + HISTORY_MARGIN
        self.rolling_columns = None
        if self.view["mode"] == "roll" and wanted > self.history_limit:
            self.rolling_columns = RollColumns(self.columns, self.span_samples / self.columns)
            wanted = HISTORY_MIN  # the spectrum and power need no history
        with self.lock:
            self.history = SampleHistory(min(self.history_limit, max(HISTORY_MIN, wanted)))
            self._recent.clear()
        self._power = [0.0, 0]  # sum and count since the previous frame
        self._fresh = False
        self.arrived = None
        self._reset_trigger()

    def _reset_trigger(self):
        self.pre = min(self.span_samples, round(self.view["pretrigger"] * self.span_samples))
        self._search_from = None  # stream position where the search continues
        self._edge = None  # a trigger whose window is not complete yet
        self._triggered = None  # (mins, maxs, samples kept, trigger position, host time)
        self._shown = True  # the last triggered trace went out in a frame
        self._since = time.monotonic()

    # ---- Blocks ----

    def feed(self, block, arrived):
        """Takes a block read from the source; `arrived` is the host time it was read."""
        samples = numpy.asarray(block.samples)
        self.lost_total += block.lost
        if self.view["paused"] or not len(samples):
            return  # the picture and the samples behind it stay as they are
        with self.lock:
            self.history.append(samples, block.flags, block.index)
        if self.rolling_columns is not None:
            self.rolling_columns.feed(samples)
        self.spectrum.feed(samples)
        self._power[0] += float(samples.sum(dtype=numpy.float64))
        self._power[1] += len(samples)
        newest = block.time + (len(samples) - 1) / self.samplerate if block.time else arrived
        self.arrived = min(arrived, newest)  # the library's stamp where it has one
        self._fresh = True
        if self.view["mode"] == "trigger":
            self._trigger()

    def _trigger(self):
        h = self.history
        if self.span_samples + self.pre > h.capacity:
            return
        if self._edge is None:
            if not self._shown:
                return  # one triggered trace per frame: searching on would only cost time
            start = max(self._search_from or 0, h.start_index + self.pre + 1)
            region = h.window(start - 1, h.end_index - start + 1)
            if region is None or len(region[1]) < 2:
                return
            found = find_edge(region[1], self.view["trigger_port"], self.view["trigger_edge"])
            self._search_from = h.end_index
            if found is None:
                return
            self._edge = start - 1 + found
        first = self._edge - self.pre
        window = h.window(first, self.span_samples)
        if window is None:
            if first < h.start_index:  # overtaken by a gap: search again
                self._edge = None
            return
        mins, maxs = zvpy.envelope(window[0], self.columns)
        kept = window[0].copy() if self.span_samples <= COPY_LIMIT else (first, self.span_samples)
        self._triggered = (mins, maxs, kept, self._edge, time.monotonic())
        self._edge, self._shown = None, False
        self._search_from = h.end_index

    # ---- Frames ----

    def frame(self):
        """The next frame, or None when no sample arrived since the previous one."""
        if not self._fresh:
            return None
        self._fresh = False
        self.seq += 1
        trace, kept, arrays = self._trace()
        if isinstance(kept, tuple) and kept[1] <= COPY_LIMIT:
            kept = self.history.window(*kept)[0].copy()
        if kept is not None:
            self._keep(kept)
        total, count = self._power
        self._power = [0.0, 0]
        header = {
            "type": "frame",
            "seq": self.seq,
            "arrived": self.arrived,
            "samplerate": self.samplerate,
            "lost_total": self.lost_total,
            "power": {"mean": _finite(total / count) if count else None, "samples": count},
            "trace": trace,
            "notice": self._notice(),
        }
        spectrum = self.spectrum.points()
        if spectrum is not None:
            header["psd"] = {"segment": self.spectrum.segment,
                             "averaged": self.spectrum.averaged}
            arrays += [("psd_freq", spectrum[0]), ("psd", spectrum[1])]
        return Frame(header, [(name, numpy.asarray(a, dtype=numpy.float32))
                              for name, a in arrays])

    def _keep(self, kept):
        with self.lock:
            self._recent[self.seq] = kept
            while len(self._recent) > RECENT_FRAMES or (len(self._recent) > 1 and sum(
                    k.nbytes for k in self._recent.values() if not isinstance(k, tuple)) >
                    SAVED_BYTES):
                self._recent.popitem(last=False)

    def _trace(self):
        """(trace description, the samples behind it (an array, (first position, count) in the
        history, or None), arrays)."""
        rate, n = self.samplerate, self.span_samples
        trace = {"mode": self.view["mode"], "columns": self.columns, "span": n / rate}
        if self.view["mode"] == "trigger":
            trace.update(x0=-self.pre / rate, x1=(n - self.pre) / rate, samples=n,
                         steps=n < self.columns, new=not self._shown)
            if self._triggered is None:
                empty = numpy.full(self.columns, numpy.nan)
                return trace, None, [("trace_min", empty), ("trace_max", empty)]
            mins, maxs, kept, edge, when = self._triggered
            self._shown = True
            trace.update(trigger=edge, age=time.monotonic() - when)
            return trace, kept, [("trace_min", mins), ("trace_max", maxs)]
        trace.update(x0=-n / rate, x1=0.0)
        if self.rolling_columns is not None:
            mins, maxs = self.rolling_columns.trace()
            trace.update(samples=n, steps=False)
            return trace, None, [("trace_min", mins), ("trace_max", maxs)]
        h = self.history
        count = min(n, h.length)
        samples, _ = h.window(h.end_index - count, count)
        shown = max(1, min(self.columns, math.ceil(self.columns * count / n)))
        mins, maxs = zvpy.envelope(samples, shown)
        if shown < self.columns:  # not a whole span yet: the columns at the left stay empty
            pad = numpy.full(self.columns - shown, numpy.nan, dtype=numpy.float32)
            mins, maxs = numpy.concatenate((pad, mins)), numpy.concatenate((pad, maxs))
        trace.update(samples=count, steps=count < shown)
        return trace, (h.end_index - count, count), [("trace_min", mins), ("trace_max", maxs)]

    def _notice(self):
        if self.view["mode"] != "trigger":
            return ""
        if self.span_samples + self.pre > self.history.capacity:
            longest = self.history.capacity / 2 / self.samplerate
            return (f"a triggered trace holds at most {longest:.3g} s at this sample rate: "
                    "shorten the span or decimate")
        if self._triggered is None or time.monotonic() - self._triggered[4] > WAITING_AFTER_S:
            return (f"waiting for a {self.view['trigger_edge']} edge of port "
                    f"{self.view['trigger_port']}")
        return ""

    # ---- Saving ----

    def snapshot(self, seq):
        """The samples behind frame `seq` and their sample rate; raises LookupError with a
        sentence for the user when they are not kept."""
        with self.lock:
            kept = self._recent.get(seq)
            if kept is None and self.rolling_columns is not None:
                raise LookupError(
                    f"a span of {self.span_samples / 1e6:.3g} M samples is longer than the "
                    f"{self.history_limit / 1e6:.3g} M kept: shorten the span or decimate to "
                    "save the samples behind the trace")
            if isinstance(kept, tuple):
                window = self.history.window(*kept)
                kept = None if window is None else window[0].copy()
            if kept is None:
                raise LookupError("the samples of that picture are no longer kept: pause, then "
                                  "save")
            return kept, self.samplerate


def _finite(value):
    """A number for the page (JSON has no NaN or infinity); None stands for "not a number"."""
    return value if math.isfinite(value) else None
