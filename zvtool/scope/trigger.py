"""Finding a trigger: the first rising or falling edge of a port's level in the flags of a
stretch of samples (bit 0 port S, bit 1 port T), searched a piece at a time so that a frequent
edge is found without scanning everything behind it."""
import numpy

PORT_BITS = {"S": 0, "T": 1}
PIECE = 1 << 16


def find_edge(flags, port, edge, start=1):
    """The first position i >= start (i >= 1) in `flags` where the port's level goes from low to
    high ("rising") or high to low ("falling") between flags[i - 1] and flags[i]; None if the
    level does not change so."""
    bit = PORT_BITS[port]
    step = 1 if edge == "rising" else -1
    start = max(1, start)
    while start < len(flags):
        end = min(len(flags), start + PIECE)
        levels = ((flags[start - 1:end] >> bit) & 1).view(numpy.int8)
        hits = numpy.flatnonzero(numpy.diff(levels) == step)
        if len(hits):
            return start + int(hits[0])
        start = end
    return None
