"""A continuous power reading: a stream that keeps running between reads, as a power meter.

Each read continues exactly where the previous one ended, so the blocks join without gaps and
the filter never restarts; every block says where it lies in time and whether samples were lost.
Run: python3 continuous_power.py [--simulate]
"""
import warnings

import zvpy
from detector import open_detector

with open_detector() as device, device.open_stream("float32") as stream:
    stream.set_decimation(80)  # 80 MS/s -> 1 MS/s behind a 400 kHz low pass
    per_block = int(stream.samplerate / 10)  # a tenth of a second per block
    # A loss is reported once as a zvpy.DataLossWarning; this program counts it and goes on.
    warnings.simplefilter("always", zvpy.DataLossWarning)
    stream.start(buffer_seconds=1.0)
    for block in stream.blocks(per_block, count=10):
        seconds = block.index / stream.samplerate  # since start, lost samples counted
        print(f"{seconds:5.2f} s  mean {block.samples.mean():7.3f} µW  "
              f"min {block.samples.min():7.3f}  max {block.samples.max():7.3f}  "
              f"lost {block.lost}")
    stream.stop()
    print(f"1 s of power in 10 blocks, {stream.lost_total} samples lost")
