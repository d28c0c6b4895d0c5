"""zvpy.list_devices: every attached detector, closed, in search order."""
import re

import zvpy


def test_lists_nothing_without_detectors(attach):
    assert zvpy.list_devices() == []


def test_lists_simulated_detectors_in_attach_order_and_leaves_them_closed(attach):
    first = attach(serial="HLM25-S00001IC")
    attach(serial="HLM25-D00002VL", firmware=(1, 0, 1), speed="high", samplerate=40_000_000)
    listed = zvpy.list_devices()
    assert listed == [
        {"serial": "HLM25-S00001IC", "product": "HLM25 1550nm FC", "samplerate": 80_000_000,
         "adcbits": 14, "firmware": (1, 0, 2), "usb_speed": "super"},
        {"serial": "HLM25-D00002VL", "product": "HLM25 Balanced 760nm FL",
         "samplerate": 40_000_000, "adcbits": 14, "firmware": (1, 0, 1), "usb_speed": "high"},
    ]
    # Listing reads identities only; both detectors can still be opened afterwards.
    with zvpy.Device(serial="S00001") as device:
        assert device.serial == "HLM25-S00001IC"
    # Nothing but identity reads went to the detector.
    assert {r[1] for r in first.requests} == {0x30}


def test_many_detectors_are_all_listed(attach):
    for i in range(20):
        attach(serial=f"HLM25-S{i:05d}IC")
    assert [d["serial"] for d in zvpy.list_devices()] == [f"HLM25-S{i:05d}IC" for i in range(20)]


def test_failing_identity_read_raises(attach):
    attach(serial="HLM25-S00001IC").fail_request(0x30, count=None)
    try:
        zvpy.list_devices()
    except zvpy.Error as error:
        assert error.err == 32 and error.errstr == "usb in request error"
    else:
        raise AssertionError("list_devices did not raise")


def test_libusb_version_is_a_version_text():
    assert re.fullmatch(r"\d+\.\d+\.\d+", zvpy.libusb_version())
