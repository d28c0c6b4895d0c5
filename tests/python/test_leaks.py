"""Long runs of the things a lab program repeats: opening and closing a detector, failing opens
and collections, streams. The process's resident memory, the count of live Python objects and the
reference counts of the modules' objects must stay flat.

Under the sanitizers (ZV_SANITIZED) the runtime keeps freed memory in quarantine, so resident
memory is not compared there; the object counts still are."""
import gc
import os
import sys

import pytest

import zvpy
import zvsim

SANITIZED = bool(os.environ.get("ZV_SANITIZED"))
MIB = 1 << 20


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def module_objects():
    """The modules' public objects (classes, exceptions, lookup tables, functions) and theirs
    reference counts."""
    objects = {}
    for module in (zvpy, zvsim):
        for name in dir(module):
            if not name.startswith("__"):
                objects[f"{module.__name__}.{name}"] = getattr(module, name)
    return objects


class Watch:
    """Counts before and after a repeated action: resident memory, live objects and the reference
    counts of the modules' objects."""

    def __init__(self, action, warm_up):
        for _ in range(warm_up):  # caches, arenas and first-use allocations settle
            action()
        gc.collect()
        self.objects = module_objects()
        self.refcounts = {name: sys.getrefcount(obj) for name, obj in self.objects.items()}
        self.live = len(gc.get_objects())
        self.resident = resident_bytes()

    def check(self, resident_bound, live_bound=50):
        gc.collect()
        refcounts = {name: sys.getrefcount(obj) for name, obj in self.objects.items()}
        changed = {name: (self.refcounts[name], count) for name, count in refcounts.items()
                   if count != self.refcounts[name]}
        assert changed == {}
        assert len(gc.get_objects()) - self.live < live_bound
        if not SANITIZED:
            assert resident_bytes() - self.resident < resident_bound


def test_open_and_close_ten_thousand_times(sim):
    def open_close():
        d = zvpy.Device()
        assert d.serial == "HLM25-S00001IC"
        d.close()

    watch = Watch(open_close, warm_up=200)
    for _ in range(10_000):
        open_close()
    # A record, its transport and descriptors take several KiB: a leak of any of them per open
    # would add tens of MiB.
    watch.check(resident_bound=2 * MIB)


def test_failing_opens_collections_and_unplugs(attach, capfd):
    """The error paths: an identity the detector refuses, a transfer that never completes,
    packets with errors, and unplugging with the device open."""
    def faults():
        sim = attach()
        sim.fail_request(0x30)
        with pytest.raises(zvpy.Error):
            zvpy.Device()
        d = zvpy.Device()
        sim.inject("error_status", transfer=5)
        sim.inject("bad_status", transfer=6)
        sim.inject("data_loss", transfer=7, packet=1)
        with pytest.raises(zvpy.Error):
            d.get_raw_data(2_000_000)  # five transfers and more
        sim.detach()
        with pytest.raises(zvpy.Error):
            d.read_highgain()
        d.close()
        capfd.readouterr()

    watch = Watch(faults, warm_up=20)
    for _ in range(300):
        faults()
    watch.check(resident_bound=4 * MIB)


def test_a_thousand_streams_made_used_and_closed(sim):
    d = zvpy.Device()

    def stream_cycle():
        stream = d.open_stream(dtype="float32")
        stream.set_decimation(10)
        assert len(stream.acquire(2000)) == 2000
        stream.close()
        with d.open_stream() as stream:  # float64, released by the context manager
            stream.set_filter("butterworth8")
            assert len(stream.acquire(100)) == 100

    watch = Watch(stream_cycle, warm_up=30)
    for _ in range(1000):
        stream_cycle()
    # A stream's scratch array alone is 64 KiB or 128 KiB, its processor more.
    watch.check(resident_bound=4 * MIB)
    d.close()
