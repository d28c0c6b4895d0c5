"""zvpy.envelope, the library's min/max envelope, against numpy."""
import numpy
import pytest

import zvpy


def numpy_envelope(x, columns):
    """The definition in numpy: sample i lands in column i * columns // n; a column without a
    sample shows sample c * n // columns."""
    n = len(x)
    column = numpy.arange(n, dtype=numpy.int64) * columns // n
    starts = numpy.flatnonzero(numpy.diff(column, prepend=-1))
    mins = x[numpy.arange(columns, dtype=numpy.int64) * n // columns].copy()
    maxs = mins.copy()
    mins[column[starts]] = numpy.minimum.reduceat(x, starts)
    maxs[column[starts]] = numpy.maximum.reduceat(x, starts)
    return mins, maxs


@pytest.mark.parametrize("dtype", ["uint16", "float32", "float64"])
def test_every_column_matches_numpy(dtype):
    rng = numpy.random.default_rng(5)
    for n in (1, 2, 17, 1000, 65537, 1_000_003):
        if dtype == "uint16":
            x = rng.integers(0, 0x10000, n, dtype=numpy.uint16)
        else:
            x = rng.normal(0, 1e3, n).astype(dtype)
            x[rng.integers(0, n, 3)] = numpy.nan  # a NaN is its column's minimum and maximum
            x[rng.integers(0, n, 3)] = -numpy.inf
        for columns in (1, 3, 640, 1921, n, 3 * n + 1):
            mins, maxs = zvpy.envelope(x, columns)
            want_min, want_max = numpy_envelope(x, columns)
            assert mins.dtype == maxs.dtype == x.dtype
            numpy.testing.assert_array_equal(mins, want_min, err_msg=f"n {n} columns {columns}")
            numpy.testing.assert_array_equal(maxs, want_max, err_msg=f"n {n} columns {columns}")


def test_a_single_sample_spike_reaches_its_column():
    """One sample of 12.5 ns in a quarter of a second of an 80 MS/s trace, folded to a screen's
    width."""
    n, columns = 20_000_000, 1920
    x = numpy.full(n, 1.0, dtype=numpy.float32)
    x[1::2] = 1.25  # noise-free alternation: every column's extremes are 1.0 and 1.25
    up, down = 14_321_987, 12_345
    x[up], x[down] = 9.5, -3.0
    mins, maxs = zvpy.envelope(x, columns)
    assert maxs[up * columns // n] == 9.5 and mins[down * columns // n] == -3.0
    assert numpy.count_nonzero(maxs == 1.25) == columns - 1
    assert numpy.count_nonzero(mins == 1.0) == columns - 1
    codes = (x * 1000 + 4000).astype(numpy.uint16)  # the same trace as raw codes
    code_mins, code_maxs = zvpy.envelope(codes, columns)
    assert code_maxs[up * columns // n] == 13500 and code_mins[down * columns // n] == 1000


def test_inputs_it_takes_and_refuses():
    strided = numpy.arange(40.0)[::4]  # not contiguous: folded all the same
    assert [a.tolist() for a in zvpy.envelope(strided, 2)] == [[0.0, 20.0], [16.0, 36.0]]
    read_only = numpy.frombuffer(numpy.arange(6, dtype=numpy.float32).tobytes(), numpy.float32)
    assert zvpy.envelope(read_only, 1)[1].tolist() == [5.0]
    mins, _ = zvpy.envelope([3, 1, 2], 1)  # a list of ints is folded as float64
    assert mins.dtype == numpy.float64 and mins.tolist() == [1.0]
    for samples, columns, error, text in (
            ([], 4, ValueError, "at least one sample"),
            ([1.0], 0, ValueError, "at least one column"),
            (numpy.zeros((2, 2)), 2, ValueError, "1-D"),
            (["a", "b"], 1, TypeError, "real numbers"),
            ([1.0, 2.0], 1.5, TypeError, "integer")):
        with pytest.raises(error, match=text):
            zvpy.envelope(samples, columns)
