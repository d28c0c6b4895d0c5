#!/usr/bin/python3
"""Continuous streams from the simulated detector, read from Python.

Non-real-time detector (samples as fast as they are read), reads of 1 M samples in a Python loop
for 100 M samples per case, best of a few rounds:
  RawStream (14-bit codes)                 target at least 1,000 M samples/s
  Stream "none" float32                    target at least 800 M samples/s
  Stream "butterworth4" float64            target at least 1.6 x scipy.signal.sosfilt's rate on
                                           the same number of samples in the same run
  Stream.acquire "butterworth4" float64    target at least 1.5 x sosfilt (one call, same samples)

Real-time detector at 80 MS/s: a Python thread counting in a loop, alone and while a RawStream is
read at full rate on another thread (target: at least 80 % of its rate alone).

    ZV_BUILD_DIR=build PYTHONPATH=build bench/stream/continuous_bench.py [--samples N]
"""
import argparse
import threading
import time

import numpy
import scipy.signal

import zvpy
import zvsim

READ = 1_000_000
CUTOFF_HZ = 1e6


def best_of(rounds, run):
    """The shortest of `rounds` timed calls of run()."""
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def read_loop(stream, total):
    stream.start()
    try:
        done = 0
        while done < total:
            done += len(stream.read(READ))
    finally:
        stream.stop()
    assert stream.lost_total == 0


def sosfilt_seconds(samples, samplerate, rounds):
    sos = scipy.signal.butter(4, CUTOFF_HZ / (samplerate / 2), output="sos")
    raw = (numpy.arange(samples) % 16384).astype(numpy.float64)
    return best_of(rounds, lambda: scipy.signal.sosfilt(sos, raw))


def line(name, samples, seconds, verdict):
    print(f"{name:<40} {samples / seconds / 1e6:8.1f} M samples/s  {verdict}", flush=True)


def non_real_time(samples, rounds):
    zvsim.detach_all()
    zvsim.attach()
    with zvpy.Device() as device:
        samplerate = device.samplerate
        with device.open_raw_stream() as raw:
            seconds = best_of(rounds, lambda: read_loop(raw, samples))
            line("RawStream, reads of 1 M", samples, seconds,
                 f"({'meets' if samples / seconds >= 1e9 else 'below'} 1000)")
        with device.open_stream("float32") as stream:
            stream.filter = "none"
            seconds = best_of(rounds, lambda: read_loop(stream, samples))
            line("Stream none float32, reads of 1 M", samples, seconds,
                 f"({'meets' if samples / seconds >= 8e8 else 'below'} 800)")
        reference = sosfilt_seconds(samples, samplerate, rounds)
        line("scipy.signal.sosfilt, order 4, float64", samples, reference, "(reference)")
        with device.open_stream("float64") as stream:
            stream.filter = "butterworth4"
            stream.cutoff = CUTOFF_HZ
            seconds = best_of(rounds, lambda: read_loop(stream, samples))
            ratio = reference / seconds
            line("Stream butterworth4 float64, reads of 1 M", samples, seconds,
                 f"{ratio:.2f} x sosfilt ({'meets' if ratio >= 1.6 else 'below'} 1.6)")
            seconds = best_of(rounds, lambda: stream.acquire(samples))
            ratio = reference / seconds
            line("Stream.acquire butterworth4 float64", samples, seconds,
                 f"{ratio:.2f} x sosfilt ({'meets' if ratio >= 1.5 else 'below'} 1.5)")
    zvsim.detach_all()


def count_for(seconds):
    """Counts in a Python loop for `seconds`; returns counts per second."""
    count = 0
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        for _ in range(1000):
            count += 1
    return count / seconds


def beside_a_real_time_stream(seconds, rounds):
    """The counting rate alone and beside a RawStream read at full rate, measured in turns (the
    machine's speed drifts): the ratio of each turn beside to the mean of the turns alone around
    it, median of `rounds`."""
    zvsim.detach_all()
    zvsim.attach(realtime=True)
    ratios, read_rates = [], []
    with zvpy.Device() as device, device.open_raw_stream() as stream:
        alone_before = count_for(seconds)
        for _ in range(rounds):
            stream.start()
            stop = threading.Event()
            read = [0]

            def reader():
                while not stop.is_set():
                    read[0] += len(stream.read(READ))

            thread = threading.Thread(target=reader)
            thread.start()
            start = time.perf_counter()
            beside = count_for(seconds)
            elapsed = time.perf_counter() - start
            stop.set()
            thread.join()
            lost = stream.lost_total
            stream.stop()
            alone_after = count_for(seconds)
            ratios.append(beside / ((alone_before + alone_after) / 2))
            read_rates.append(read[0] / elapsed)
            alone_before = alone_after
    zvsim.detach_all()
    share = sorted(ratios)[len(ratios) // 2]
    print(f"a Python thread counting beside a RawStream read at {min(read_rates) / 1e6:.1f}-"
          f"{max(read_rates) / 1e6:.1f} MS/s keeps {share:.0%} of its rate alone (median of "
          f"{rounds}: {', '.join(f'{r:.0%}' for r in ratios)}; "
          f"{'meets' if share >= 0.8 else 'below'} 80 %); {lost} samples lost in the last",
          flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=100_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=2.0,
                        help="length of each counting run, alone or beside the real-time stream")
    args = parser.parse_args()
    non_real_time(args.samples, args.rounds)
    beside_a_real_time_stream(args.seconds, args.rounds + 2)


if __name__ == "__main__":
    main()
