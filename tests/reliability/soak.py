#!/usr/bin/python3
"""Soak run: a lab program's continuous acquisition, for a given time.

A real-time simulated detector at 80 MS/s streams into a float32 Stream decimated by 10
(Butterworth anti-aliasing filter); a Python loop reads blocks of a tenth of a second and computes
each block's mean, as a power monitor would. Reported each minute and at the end: samples
delivered against what the sample rate gives, loss events, processor time of the whole process
(acquisition thread, processing and Python) as a share of one core, and resident memory, which
must stay flat after the first second (the ring buffer fills in it). Exits non-zero on any loss,
a failure, or memory that grows.

    ZV_BUILD_DIR=build PYTHONPATH=build tests/reliability/soak.py [seconds] [samplerate] [decimation]
"""
import os
import resource
import sys
import time
import warnings

import zvpy
import zvsim

# Resident memory may move this much (MiB) after the first second without counting as growth.
MEMORY_SLACK_MIB = 8.0
REPORT_EVERY_SECONDS = 60.0


def resident_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


class MemoryWatch:
    """Resident memory once the first second has passed (the ring buffer fills in it), and its
    peak since."""

    def __init__(self):
        self.after_first_second = None
        self.peak = 0.0

    def sample(self, elapsed):
        """Takes a reading `elapsed` seconds into the run; returns it (MiB)."""
        memory = resident_mib()
        if elapsed >= 1.0:
            if self.after_first_second is None:
                self.after_first_second = memory
            self.peak = max(self.peak, memory)
        return memory

    @property
    def growth(self):
        return self.peak - (self.after_first_second or self.peak)

    def summary(self):
        return (f"memory {self.after_first_second or self.peak:.1f} MiB after 1 s, peak "
                f"{self.peak:.1f} MiB (growth {self.growth:.1f} MiB)")


def priority_note():
    # A stall of a shared machine longer than the queued transfers (80 ms at 80 MS/s) loses
    # samples; lab acquisition programs run at a raised priority, and so should this run.
    nice = os.getpriority(os.PRIO_PROCESS, 0)
    if nice < 0:
        return f"raised priority (nice {nice})"
    return (f"normal priority (nice {nice}): the raised priority was not granted, so a stall of "
            "this machine may show as lost samples")


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 600.0
    samplerate = int(argv[2]) if len(argv) > 2 else 80_000_000
    decimation = int(argv[3]) if len(argv) > 3 else 10
    print(f"soak: {seconds:g} s, real-time detector at {samplerate / 1e6:g} MS/s, float32 "
          f"decimated by {decimation}, reads of 0.1 s with a mean each; {priority_note()}",
          flush=True)
    zvsim.detach_all()
    sim = zvsim.attach(realtime=True, samplerate=samplerate)
    loss_events = []
    warnings.simplefilter("ignore", zvpy.DataLossWarning)
    with zvpy.Device() as device, device.open_stream("float32") as stream:
        stream.set_decimation(decimation)
        per_read = int(stream.samplerate / 10)
        start = time.monotonic()
        cpu_start = cpu_seconds()
        stream.start()
        delivered = 0
        mean_sum = 0.0
        blocks = 0
        watch = MemoryWatch()
        next_report = REPORT_EVERY_SECONDS
        while True:
            block = stream.read(per_read, timeout=5)
            mean_sum += float(block.samples.mean())
            blocks += 1
            if blocks == 1:
                # The detector's FIFO overflows while the stream starts up (those transfers are
                # discarded); from the first block on, every drop must show as a loss event.
                dropped_before = sim.dropped
            delivered += len(block)
            for index, lost, kind in block.gaps:
                loss_events.append((time.monotonic() - start, index, lost, kind))
                print(f"  {time.monotonic() - start:8.1f} s: {lost} samples lost at position "
                      f"{index} ({kind})", flush=True)
            elapsed = time.monotonic() - start
            memory = watch.sample(elapsed)
            if elapsed >= next_report or elapsed >= seconds:
                cpu = (cpu_seconds() - cpu_start) / elapsed
                expected = elapsed * stream.samplerate
                print(f"  {elapsed:8.1f} s: {delivered} samples ({delivered / expected:.1%} of "
                      f"the rate), {len(loss_events)} loss events, processor {cpu:.0%} of a core, "
                      f"memory {memory:.1f} MiB", flush=True)
                next_report += REPORT_EVERY_SECONDS
            if elapsed >= seconds:
                break
        stream.stop()
        lost_total = stream.lost_total
    cpu = (cpu_seconds() - cpu_start) / elapsed
    print(f"soak: {delivered} samples in {elapsed:.1f} s, mean power {mean_sum / max(1, blocks):.4g}"
          f" µW; {len(loss_events)} loss events ({lost_total} samples); detector dropped "
          f"{sim.dropped - dropped_before} after the first block; processor {cpu:.0%} of one core; "
          f"{watch.summary()}; {priority_note()}",
          flush=True)
    zvsim.detach_all()
    failed = bool(loss_events) or watch.growth > MEMORY_SLACK_MIB
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
