"""The scope's page in headless Chromium through Selenium, for the tests, the benchmark and
screenshots. Needs the Debian packages chromium, chromium-driver and python3-selenium."""
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Running as root needs --no-sandbox. A closed network (a lab's, CI's) refuses the browser's own
# background connections, which it would report as errors: they are switched off.
ARGUMENTS = ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run",
             "--window-size=1400,1000")


class BrowserUnavailable(RuntimeError):
    """Chromium or its driver cannot run here; the text says what is missing."""


def start_browser(profile, downloads=None):
    """A Chromium driven by Selenium with a fresh profile directory and, if given, downloads
    saved into `downloads` without asking. Raises BrowserUnavailable."""
    import os

    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        raise BrowserUnavailable("Selenium is not installed (Debian package python3-selenium)")
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            raise BrowserUnavailable(f"{program} is missing (Debian packages chromium, "
                                     "chromium-driver)")
    options = Options()
    for argument in ARGUMENTS + (f"--user-data-dir={profile}",):
        options.add_argument(argument)
    options.binary_location = CHROMIUM
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # A preloaded sanitizer runtime (the sanitized test run's) is for zv's processes only.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    try:
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER, env=env), options=options)
    except Exception as error:
        raise BrowserUnavailable(f"Chromium did not start: {str(error).splitlines()[0]}")
    if downloads is not None:
        driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": str(downloads)})
    return driver
