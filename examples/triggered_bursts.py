"""Triggered bursts: record 2 µs of signal at each of 10 rising edges on logic port S.

Wire the trigger (for example a laser's pulse output) to port S; port T works the same way.
Run: python3 triggered_bursts.py [--simulate]
"""
from detector import open_detector

BURSTS = 10
BURST_SECONDS = 2e-6  # length of each burst

with open_detector() as device:
    rate = device.samplerate  # S/s
    per_burst = round(BURST_SECONDS * rate)  # samples per burst (160 at 80 MS/s)

    # Each burst starts at a low-to-high edge on port S ("falling", "high" and "low" exist too).
    # mask=False keeps the levels of ports S and T in bits 14 and 15 of every sample.
    raw = device.get_raw_data(BURSTS * per_burst, mask=False, trig_mode="rising",
                              trig_port="S", samples_per_trigger=per_burst)
    bursts = raw.reshape(BURSTS, per_burst)

    codes = bursts & 0x3FFF  # bits 0-13: the ADC code
    port_s = (bursts >> 14) & 1  # bit 14: port S, 1 = high

    gain, offset = device.get_calibration()  # µW = gain * code + offset
    power = codes * gain + offset
    print(f"{BURSTS} bursts of {per_burst} samples ({per_burst / rate * 1e6:g} µs each)")
    for number, (burst_power, level) in enumerate(zip(power, port_s)):
        print(f"burst {number}: port S high at start: {bool(level[0])}, "
              f"mean power {burst_power.mean():.3f} µW")

    # Without samples_per_trigger, one block starts at the first edge:
    block = device.get_raw_data(1000, trig_mode="rising", trig_port="S")
    print(f"one triggered block of {len(block)} samples, mean code {block.mean():.0f}")
