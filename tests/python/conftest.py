"""Shared pytest setup: the tests run against the modules of the build tree."""
import json
import os
import pathlib

import pytest

BUILD_DIR = pathlib.Path(os.environ.get("ZV_BUILD_DIR", "build")).resolve()


def pytest_configure(config):
    import zvpy

    module_path = pathlib.Path(zvpy.__file__).resolve()
    if BUILD_DIR not in module_path.parents:
        raise pytest.UsageError(
            f"zvpy was imported from {module_path}, not from the build tree {BUILD_DIR}; "
            "run the tests with `make test`"
        )


@pytest.fixture
def build_dir():
    return BUILD_DIR


@pytest.fixture(scope="session")
def project_version():
    """The version meson.build gives the project, as the build tree records it."""
    info = json.loads((BUILD_DIR / "meson-info" / "intro-projectinfo.json").read_text())
    return info["version"]


@pytest.fixture
def attach():
    """zvsim.attach, with every simulated detector unplugged before and after the test."""
    import zvsim

    zvsim.detach_all()
    yield zvsim.attach
    zvsim.detach_all()


@pytest.fixture
def sim(attach):
    """A freshly attached simulated detector with the default identity (single-ended, 1550 nm,
    firmware 1.0.2)."""
    return attach()


@pytest.fixture
def opened(sim):
    """Opens the fixture's detector with a zvpy class (Device by default) and clears its request
    log, so a test sees only the requests it makes."""
    import zvpy

    def open_as(cls=zvpy.Device):
        device = cls()
        sim.clear_requests()
        return device

    return open_as
