"""zv scope in a real browser: headless Chromium driven through Selenium loads the page from a
server on the simulated detector, draws frames, changes the detector and the stream from the
page's controls, saves the picture and the samples behind it, and logs no error.

Skipped, saying why, only where Chromium cannot start; ZV_BROWSER_REQUIRED=1 (set by CI) turns
that into a failure."""
import os
import time

import numpy
import pytest

from scope_harness import open_scope
from zvtool.scope.headless import BrowserUnavailable, start_browser


def unavailable(reason):
    if os.environ.get("ZV_BROWSER_REQUIRED") == "1":
        pytest.fail(f"the browser test is required here, but {reason}")
    pytest.skip(reason)


@pytest.fixture
def browser(tmp_path):
    downloads = tmp_path / "downloads"
    downloads.mkdir()
    try:
        driver = start_browser(tmp_path / "profile", downloads)
    except BrowserUnavailable as error:
        unavailable(str(error))
    driver.downloads = downloads
    yield driver
    driver.quit()


def wait_for(condition, what, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def load_when_written(path):
    """[samples] once the browser has written the whole file, else None."""
    try:
        return [numpy.load(path)]
    except (ValueError, OSError, EOFError):
        return None


def test_page_draws_frames_sets_the_detector_and_saves_a_picture(browser, attach):
    import zvpy
    from zvtool import simulated

    sim = simulated.attach()
    with zvpy.Device(serial=simulated.SERIAL) as device:
        scope = open_scope(device)
        try:
            browser.get(scope.url)
            drawn = lambda: browser.execute_script("return window.zvScope.drawn")
            first = wait_for(lambda: drawn() >= 3 and drawn(), "frames drawn")
            wait_for(lambda: drawn() >= first + 10, "frames to keep coming")

            from selenium.webdriver.common.by import By
            cutoff = browser.find_element(By.ID, "set-cutoff")
            cutoff.clear()
            cutoff.send_keys("2500000\n")
            wait_for(lambda: scope.source.stream.read_cutoff() == 2.5e6, "the cutoff to change")
            browser.find_element(By.ID, "set-highgain").click()
            wait_for(lambda: sim.features["highgain"] == 1, "high gain on the detector")
            wait_for(lambda: browser.execute_script(
                "return window.zvScope.state.settings.highgain"), "the page to show high gain")

            browser.find_element(By.ID, "save-png").click()
            png = wait_for(lambda: list(browser.downloads.glob("zv-scope-*.png")), "the PNG")[0]
            wait_for(lambda: png.stat().st_size > 10_000, "the PNG to be written")
            data = png.read_bytes()
            assert data[:8] == b"\x89PNG\r\n\x1a\n"
            width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
            assert width >= 1000 and height >= 500

            browser.find_element(By.ID, "save-npy").click()
            saved = wait_for(lambda: list(browser.downloads.glob("zv-scope-*-80MSps.npy")),
                             "the samples")[0]
            samples = wait_for(lambda: load_when_written(saved), "the samples to be written")[0]
            assert samples.dtype == numpy.float32 and len(samples) == 80_000  # 1 ms at 80 MS/s
            assert numpy.isfinite(samples).all() and samples.std() > 0

            assert browser.execute_script("return window.zvScope.errors") == []
            severe = [entry for entry in browser.get_log("browser")
                      if entry["level"] == "SEVERE"]
            assert severe == []
        finally:
            scope.close()
