"""A decimated stream: calibrated, low-pass filtered power at a reduced sample rate.

A Stream converts raw samples to power, filters them and keeps one sample in N, as the detector
streams; the output is a float32 or float64 numpy array.
Run: python3 decimated_stream.py [--simulate]
"""
import numpy

from detector import open_detector

with open_detector() as device:
    with device.open_stream("float32") as stream:  # float32 halves the memory of float64
        # Keep one sample in 16, after a 4th-order Butterworth low pass at 0.4 x the new rate
        # (80 MS/s -> 5 MS/s, cutoff 2 MHz) so that nothing above the new Nyquist frequency
        # folds back into the data.
        stream.set_decimation(16)
        stream.calibration_units = -3  # power in mW (10**-3 W); the default -6 gives µW
        print(f"output rate {stream.samplerate / 1e6:g} MS/s, filter {stream.filter}, "
              f"cutoff {stream.cutoff / 1e6:g} MHz")

        power = stream.acquire(50_000)  # 50,000 output samples = 10 ms at 5 MS/s
        # Each acquire starts its filter from rest: the first few samples rise from 0 while it
        # settles (under 1 µs here). Leave them out of statistics.
        power = power[10:]
        seconds = len(power) / stream.samplerate
        print(f"{len(power)} samples ({seconds * 1e3:g} ms), dtype {power.dtype}: "
              f"mean {power.mean() * 1e3:.3f} µW, peak-to-peak {numpy.ptp(power) * 1e3:.3f} µW")

        # The strongest frequency in the data (Hz), from its spectrum.
        spectrum = numpy.abs(numpy.fft.rfft(power - power.mean()))
        frequencies = numpy.fft.rfftfreq(len(power), 1 / stream.samplerate)
        print(f"strongest frequency {frequencies[spectrum.argmax()] / 1e3:.1f} kHz")

        # Other settings: stream.set_filter("chebyI4") with stream.cutoff = 1e6 (Hz) filters
        # without reducing the rate; stream.downsampling = 4 keeps one sample in 4 unfiltered.
