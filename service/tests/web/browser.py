"""Headless Chromium driven by chromedriver, for the browser tests. Only
ever started inside the network namespace of run_in_netns.sh."""
import os
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")
FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-default-apps", "--window-size=1400,900",
         # Date fields take what is typed in this language's order: mm/dd/yyyy.
         "--lang=en-US"]


def start_browser():
    """A Chrome WebDriver with a profile in a temporary directory; quit()
    ends Chromium and chromedriver, cleanup() removes the profile."""
    profile = tempfile.TemporaryDirectory(prefix="doorlinkd-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in FLAGS + [f"--user-data-dir={profile.name}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)
    driver.profile = profile
    return driver


def stop_browser(driver):
    try:
        driver.quit()
    finally:
        driver.profile.cleanup()


def console_problems(driver):
    """Console messages of level SEVERE since the last call: script errors,
    refused resources and Content-Security-Policy violations."""
    return [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
