#!/usr/bin/env python3
"""The demo page in a real headless Chromium: it reads the bank card a
virtual reader holds and shows the decoded fields, it finds the readers
behind the serial ports and picks the first, and it shows the event of a
card inserted into a watched reader.
Usage: browser_test.py KPDEVD KPDEV_SIM
Exit 77 (skipped) without chromium, chromedriver or Selenium."""

import os
import shutil
import sys
import tempfile

SKIP = 77


def skip(why):
    print("skipped: " + why)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    skip("python3-selenium is not installed (apt-get install python3-selenium)")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    skip("chromium and chromium-driver are not installed (apt-get install chromium chromium-driver)")

import harness  # noqa: E402
from harness import check, summary  # noqa: E402

KPDEVD, SIM = sys.argv[1], sys.argv[2]
# Tag 57 of the virtual reader's profile pboc-debit-two-sfi.
PAN = "6200001234567892"


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ["--headless", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")  # Chromium refuses to run as root with its sandbox
    return webdriver.Chrome(service=DriverService(DRIVER), options=options)


def field(driver, path):
    cells = driver.find_elements(By.CSS_SELECTOR, '#result tr[data-field="%s"] td' % path)
    return cells[1].text if len(cells) == 2 else None


def main():
    bank = harness.sim_reader(SIM, "t61", 115200, inserts=["0 bank profile=pboc-debit-two-sfi"])
    watched = harness.sim_reader(SIM, "t1")
    # COM1 names no device, so that the search never writes to a serial
    # port of the machine the test runs on.
    service = harness.Service(KPDEVD, env={"KPDEV_COM1": "/nonexistent/kpdev-test-no-device",
                                           "KPDEV_COM3": bank.port_path, "KPDEV_COM4": watched.port_path})
    profile = tempfile.mkdtemp(prefix="kpdevd-chromium-")
    driver = None
    try:
        driver = browser(profile)
        wait = WebDriverWait(driver, 30)
        driver.get("http://127.0.0.1:%d/" % service.port)
        wait.until(lambda d: d.find_element(By.ID, "status").text.startswith("connected"))

        # Read any card on COM3.
        driver.find_element(By.CSS_SELECTOR, '#port option[value="3"]').click()
        driver.find_element(By.ID, "read").click()
        wait.until(lambda d: field(d, "exit") is not None)
        check("the page shows the card kind", field(driver, "kind.name") == "contact bank card",
              field(driver, "kind.name"))
        check("... the account number", field(driver, "track2.pan") == PAN, field(driver, "track2.pan"))
        check("... the expiry", field(driver, "track2.expiry") == "3012", field(driver, "track2.expiry"))
        check("... the service code", field(driver, "track2.service") == "220", field(driver, "track2.service"))
        check("... success", field(driver, "exit") == "0" and
              driver.find_element(By.ID, "status").text == "card read")

        # Find readers: both virtual readers, in COM order; the page picks
        # the first with its type and speed.
        driver.find_element(By.ID, "find").click()
        WebDriverWait(driver, 120).until(
            lambda d: not d.find_element(By.ID, "status").text.startswith("searching"))
        status = driver.find_element(By.ID, "status").text
        check("Find readers finds both readers",
              status == "found COM3 (type 61, 115200 baud), COM4 (type 1, 9600 baud)", status)
        picked = [driver.execute_script("return document.getElementById(arguments[0]).value", name)
                  for name in ("port", "type", "baud")]
        check("... and picks the first", picked == ["3", "61", "115200"], picked)

        # Watch COM4 (type 1, 9600 baud), then insert a card there.
        driver.find_element(By.CSS_SELECTOR, '#port option[value="4"]').click()
        Select(driver.find_element(By.ID, "type")).select_by_visible_text("1")
        Select(driver.find_element(By.ID, "baud")).select_by_visible_text("9600")
        driver.find_element(By.ID, "watch").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#events li[data-event="watching"]'))
        watched.control().insert(0, "cpu")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#events li[data-event="inserted"]'))
        item = driver.find_element(By.CSS_SELECTOR, '#events li[data-event="inserted"]').text
        check("the page shows the card inserted", "COM4" in item and "seat 0" in item, item)
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#events li[data-event="powered"]'))
        item = driver.find_element(By.CSS_SELECTOR, '#events li[data-event="powered"]').text
        check("... and its answer to reset", "ATR 3B" in item, item)
        severe = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
        check("the console shows no errors", not severe, severe)
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        service.stop()
        bank.terminate()
        watched.terminate()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
