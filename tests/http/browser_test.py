#!/usr/bin/env python3
"""RackSim's web page in headless Chromium, with the library on the module side: the page shows
the sample rack, a click on a bit input changes what ZEBReadIO returns, a word typed in reaches
the host, a write from the library shows on the page, a fault switch takes effect, and the log
tail shows the requests served.

Run by ctest (RACKSIM and ZEB_LIBRARY name the programs built); exits 77 with one line saying
why where Chromium, its driver or Selenium is missing, or Chromium does not start. With
RACKSIM_SCREENSHOT=FILE it leaves a screenshot of the page there (docs/racksim-web.png).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RACKSIM = os.environ.get("RACKSIM", os.path.join(ROOT, "build", "release", "tools", "racksim",
                                                 "RackSim"))
SAMPLE = os.path.join(ROOT, "tools", "racksim", "racks", "sample.json")
SKIP = 77


def skip(why):
    print(f"SKIPPED: RackSim's page in a browser ({why})")
    sys.exit(SKIP)


try:
    import pytest
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.select import Select
except ImportError as e:
    skip(f"{e.name} is not installed: python3-selenium, python3-pytest")

sys.path.insert(0, os.path.join(ROOT, "python"))
import zeb  # noqa: E402

CHROMEDRIVER = shutil.which("chromedriver")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


def wait_for(check, what, seconds=10.0):
    """Polls check() until it gives something true; fails the test with `what` after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            got = check()
            if got:
                return got
        except (WebDriverException, zeb.ZebError):
            pass
        if time.monotonic() > deadline:
            pytest.fail(f"not within {seconds} s: {what}")
        time.sleep(0.05)


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--window-size=1440,900", "--hide-scrollbars", "--force-device-scale-factor=1"):
        options.add_argument(arg)
    browser = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    # A laptop's screen, whatever the headless window's frame takes.
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 1440, "height": 900, "deviceScaleFactor": 1,
                             "mobile": False})
    return browser


@pytest.fixture(scope="module")
def page():
    """The page of a RackSim serving the sample rack; yields the browser on it."""
    files = tempfile.TemporaryDirectory()
    proc = subprocess.Popen([RACKSIM, "--rack", SAMPLE, "--controller-root", files.name,
                             "--http", "127.0.0.1:0"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    port = None
    for line in proc.stdout:
        found = re.search(r"HTTP on http://127\.0\.0\.1:(\d+)/", line)
        if found:
            port = int(found.group(1))
            break
    assert port, "RackSim did not say where it serves HTTP"
    browser = start_browser()
    browser.get(f"http://127.0.0.1:{port}/")
    yield browser
    browser.quit()
    proc.terminate()
    proc.wait(10)
    files.cleanup()


@pytest.fixture(scope="module")
def press(page):
    with zeb.Transport(local="127.0.0.1") as t:
        with t.open("127.0.0.2", timeout_ms=150, retries=1) as dev:
            yield dev


def card(browser, name):
    return browser.find_element(By.CSS_SELECTOR, f'article.module[data-module="{name}"]')


def input_bit(browser, slot, index):
    return card(browser, "press-line").find_element(
        By.CSS_SELECTOR, f'button.bit[data-key="{slot}/bit/{index}"]')


def host_reads(press, slot, kind, index):
    """What ZEBReadIO gives the host for one input, decoded by the library's image."""
    image = zeb.Image.from_base_definition(press.base_definition(extended=True))
    image.decode(press.read_io(extended=True))
    return getattr(image[slot], kind)[index]


def test_the_page_shows_the_sample_rack(page):
    wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, "article.module")) == 3,
             "three modules drawn")
    names = [e.text for e in page.find_elements(By.CSS_SELECTOR, "article.module h2")]
    assert names == ["press-line", "packer", "conveyor-node"]
    press_line = card(page, "press-line")
    heads = [e.text for e in press_line.find_elements(By.CSS_SELECTOR, ".slot-head b")]
    assert heads == ["Slot 0", "Slot 1", "Slot 3", "Slot 4", "Slot 5", "Slot 6"]
    # The rack file's inputs: slot 0 bits 1 0 1 1 ..., slot 4 words 0 1200 2400 3600.
    wait_for(lambda: "on" in input_bit(page, 0, 0).get_attribute("class"), "slot 0 bit 0 on")
    assert "on" not in input_bit(page, 0, 1).get_attribute("class")
    word = press_line.find_element(By.CSS_SELECTOR, 'input[data-key="4/word/1"]')
    assert word.get_attribute("value") == "1200"
    # Inputs that mirror outputs cannot be flipped.
    assert not input_bit(page, 1, 0).is_enabled()


def test_a_click_on_a_bit_input_changes_what_the_host_reads(page, press):
    assert host_reads(press, 0, "bits", 1) == 0
    input_bit(page, 0, 1).click()
    wait_for(lambda: host_reads(press, 0, "bits", 1) == 1, "the host reads slot 0 bit 1 on")
    wait_for(lambda: "on" in input_bit(page, 0, 1).get_attribute("class"), "the bit lit")
    input_bit(page, 0, 1).click()
    wait_for(lambda: host_reads(press, 0, "bits", 1) == 0, "the host reads it off again")


def test_a_word_typed_in_reaches_the_host(page, press):
    field = card(page, "press-line").find_element(By.CSS_SELECTOR, 'input[data-key="6/word/0"]')
    # Typed over what the field shows, as a person does (a cleared field that lost its focus
    # would show the module's value again at the next refresh).
    field.click()
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys("1234", Keys.ENTER)
    wait_for(lambda: host_reads(press, 6, "words", 0) == 1234, "the host reads 1234")


def test_a_write_from_the_host_shows_on_the_page(page, press):
    outputs = press.outputs
    outputs[3].bits[0:8] = [1, 0, 1, 1, 0, 0, 1, 0]
    outputs[4].words[1] = 4321
    press.write_outputs()
    lamp = card(page, "press-line").find_element(By.CSS_SELECTOR, '[data-out="3/bit/6"]')
    wait_for(lambda: "on" in lamp.get_attribute("class"), "slot 3 bit output 6 lit")
    word = card(page, "press-line").find_element(By.CSS_SELECTOR, '[data-out="4/word/1"]')
    wait_for(lambda: word.text == "4321", "slot 4 word output 1 showing 4321")
    # Slot 1's inputs mirror slot 3's outputs: the host reads them back, and so does the page.
    assert host_reads(press, 1, "bits", 2) == 1
    wait_for(lambda: "on" in input_bit(page, 1, 2).get_attribute("class"), "slot 1 bit 2 lit")


def test_a_fault_switch_takes_effect(page, press):
    switch = card(page, "press-line").find_element(By.CSS_SELECTOR, "label.switch")
    switch.click()  # the first fault listed: every request lost
    wait_for(lambda: "faulty" in card(page, "press-line").get_attribute("class"),
             "press-line drawn faulty")
    with pytest.raises(zeb.ZebTimeout):
        press.read_io()
    switch.click()
    wait_for(lambda: press.read_io() is not None, "press-line answering again")
    wait_for(lambda: "faulty" not in card(page, "press-line").get_attribute("class"),
             "press-line drawn answering")


def test_the_log_tail_shows_the_requests_served(page, press):
    press.read_inputs()
    wait_for(lambda: any("press-line" in e.text
                         for e in page.find_elements(By.CSS_SELECTOR, "#log li")),
             "a request to press-line in the log")


def test_for_the_screenshot(page, press):
    """Leaves the page as docs/racksim.md shows it: a fault on the packer, outputs just written."""
    if not os.environ.get("RACKSIM_SCREENSHOT"):
        pytest.skip("no RACKSIM_SCREENSHOT")
    packer = card(page, "packer")
    Select(packer.find_element(By.CSS_SELECTOR, "select.fault-kind")).select_by_index(2)
    packer.find_element(By.CSS_SELECTOR, "label.switch").click()
    wait_for(lambda: "faulty" in card(page, "packer").get_attribute("class"), "packer faulty")
    for _ in range(3):
        press.read_inputs()
    press.outputs[3].bits[0:8] = [0, 1, 1, 0, 1, 0, 0, 1]
    press.outputs[5].dwords[0] = 305419896
    press.write_outputs()
    lamp = card(page, "press-line").find_element(By.CSS_SELECTOR, '[data-out="3/bit/1"]')
    wait_for(lambda: "written" in lamp.get_attribute("class"), "the write drawn")
    time.sleep(0.2)  # into the highlight's fading, as a person would catch it
    page.save_screenshot(os.environ["RACKSIM_SCREENSHOT"])


def browser_starts():
    """None when headless Chromium starts here, else why not."""
    if not CHROMIUM:
        return "chromium is not installed"
    if not CHROMEDRIVER:
        return "chromium-driver is not installed"
    try:
        start_browser().quit()
    except WebDriverException as e:
        return "Chromium does not start: " + str(e.msg or e).strip().splitlines()[0]
    return None


if __name__ == "__main__":
    why = browser_starts()
    if why:
        skip(why)
    if not os.path.exists(RACKSIM):
        skip("RackSim is not built")
    sys.exit(pytest.main([__file__, "-q", "-rs", "-p", "no:cacheprovider"]))
