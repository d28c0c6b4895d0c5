"""Logic ports and the LED: drive a level, a square wave and a pulse, read an input.

Port times are counted in the detector's clock cycles of about 5 ns (200 MHz).
Run: python3 ports_and_led.py [--simulate]
"""
import time

from detector import open_detector

CLOCK_HZ = 200e6  # port clock: one cycle is about 5 ns


def cycles(seconds: float) -> int:
    return round(seconds * CLOCK_HZ)


with open_detector() as device:
    # The LED has three lines, "LEDR", "LEDG" and "LEDB": show green.
    device.port_drive("LEDR", False)
    device.port_drive("LEDG", True)
    device.port_drive("LEDB", False)

    # Port A: a steady high level (ports are "A", "B", "S", "T", or zvpy.PORT_A ... PORT_T).
    device.port_drive("A", True)

    # Port B: a 1 kHz square wave, high for 25 % of each 1 ms period.
    period = cycles(1e-3)  # 200,000 cycles
    device.port_pwm("B", threshold=period // 4, period=period)

    # Port T: one 10 µs pulse.
    device.port_pulse("T", cycles(10e-6))

    # Port S as an input: True when it is high.
    print(f"port S reads {'high' if device.port_read('S') else 'low'}")

    time.sleep(0.1)
    device.port_drive("B", False)  # a new command ends the square wave
    device.port_drive("A", False)
    device.port_drive("LEDG", False)
    print("ports A and B back low, LED off")
