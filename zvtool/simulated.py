"""A simulated HLM25 with a realistic signal, for --simulate and the demo."""
import numpy

SERIAL = "HLM25-SSIM01IC"  # single-ended ('S'), 1550 nm photodiode ('I'), FC connector ('C')
SAMPLERATE = 80_000_000
# (gain µW per code, offset µW) for: digital high gain, digital low gain, analog high gain,
# analog low gain, and two unused pairs.
CALIBRATIONS = ((2.0e-4, -0.05), (2.0e-3, -0.5), (0.8, -0.01), (8.0, -0.1), (0.0, 0.0), (0.0, 0.0))

# One loop of the sample stream: 13 ms at 80 MS/s holds whole periods of every component.
LOOP_SAMPLES = 1_040_000
MODULATION_HZ = 1_000_000  # the laser's intensity modulation
PULSE_PERIOD = 10_400  # port S pulse train: 7.7 kHz
PULSE_WIDTH = 400  # 5 µs high


def signal(seed=42):
    """Raw sample words: a 1 MHz modulated laser with noise, port S pulses in bit 14."""
    rng = numpy.random.default_rng(seed)
    t = numpy.arange(LOOP_SAMPLES) / SAMPLERATE
    level = 8000 + 2500 * numpy.sin(2 * numpy.pi * MODULATION_HZ * t)
    codes = numpy.clip(numpy.rint(level + rng.normal(0, 40, LOOP_SAMPLES)), 0, 0x3FFF)
    words = codes.astype(numpy.uint16)
    pulses = (numpy.arange(LOOP_SAMPLES) % PULSE_PERIOD) < PULSE_WIDTH
    words[pulses] |= 1 << 14
    return words


def attach(realtime=False):
    """Plugs in the simulated detector and returns its zvsim handle. With realtime it samples
    in wall-clock time, as a real detector does; otherwise it sends samples as fast as they are
    read."""
    import zvsim

    for existing in zvsim.devices():
        if existing.serial == SERIAL:
            return existing
    device = zvsim.attach(serial=SERIAL, samplerate=SAMPLERATE, calibrations=CALIBRATIONS,
                          realtime=realtime)
    device.samples = signal()
    return device
