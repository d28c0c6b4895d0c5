"""A frame on the wire: one binary WebSocket message.

    uint32 little-endian   length H of the header
    H bytes                the header, JSON in UTF-8, padded with spaces to a multiple of 4
    float32 arrays         little-endian, one after another, as header["arrays"] lists them:
                           [[name, length], ...]

The arrays are encoded once per frame; the header once per client, stamped with `sent` (host
time, UNIX seconds) just before it leaves.
"""
import json
import struct

import numpy


def encode_arrays(frame):
    """The frame's array bytes and their [[name, length], ...] list."""
    listing = [[name, int(len(a))] for name, a in frame.arrays]
    body = b"".join(numpy.ascontiguousarray(a, dtype="<f4").tobytes() for _, a in frame.arrays)
    return body, listing


def encode(frame, body, listing, sent):
    header = dict(frame.header, arrays=listing, sent=sent)
    text = json.dumps(header, separators=(",", ":"), allow_nan=False,
                      default=_plain).encode("utf-8")
    text += b" " * (-len(text) % 4)
    return struct.pack("<I", len(text)) + text + body


def decode(message):
    """(header, {name: array}): the page's reading of a frame, for tests and benchmarks."""
    (length,) = struct.unpack_from("<I", message)
    header = json.loads(message[4:4 + length])
    arrays, offset = {}, 4 + length
    for name, count in header["arrays"]:
        arrays[name] = numpy.frombuffer(message, dtype="<f4", count=count, offset=offset)
        offset += 4 * count
    return header, arrays


def _plain(value):
    """numpy scalars in a header become Python numbers."""
    if isinstance(value, numpy.generic):
        return value.item()
    raise TypeError(f"{type(value).__name__} in a frame header")
