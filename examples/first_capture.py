"""A first capture: open the detector, show what it is, collect 100,000 samples of optical power.

Run: python3 first_capture.py [--simulate]
"""
import numpy

from detector import open_detector

with open_detector() as device:  # closed again at the end of the block
    print(f"{device.product}, serial {device.serial}, firmware {device.fwversion}")
    rate = device.samplerate  # samples per second (S/s)
    print(f"sample rate {rate / 1e6:g} MS/s, photodiode peak at {device.peak_responsivity} nm")

    # Power in µW, converted with the calibration stored in the detector for its current gain.
    # Without `wavelength` it is the power at the photodiode's peak wavelength; give the laser's
    # wavelength in nm to correct for the photodiode's lower response there.
    power = device.get_calibrated_data(100_000, wavelength=1550)

    duration = len(power) / rate  # seconds
    print(f"{len(power)} samples = {duration * 1e3:.3f} ms of light")
    print(f"mean {power.mean():.3f} µW, min {power.min():.3f} µW, max {power.max():.3f} µW, "
          f"noise (std) {power.std():.3f} µW")

    # The same samples as raw 14-bit ADC codes, with the calibration line [gain, offset]:
    # µW = gain * code + offset.
    raw = device.get_raw_data(1000)
    gain, offset = device.get_calibration()
    print(f"raw codes {raw.min()}..{raw.max()}; {gain:.3g} µW per code, offset {offset:.3g} µW")
    numpy.set_printoptions(precision=3)
    print("first samples (µW):", power[:5])
