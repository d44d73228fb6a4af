#!/usr/bin/python3
"""The administration web site in a real browser (headless Chromium through
WebDriver), on a portable machine that Setup has installed Quillon on, with
the machine's web server on 127.0.0.1.

    admin_site.py TOOL MACHINE ADDRESS PASSWORD SCREENSHOTS

TOOL is quillon-machine, MACHINE the installed machine, ADDRESS the web
server's address, PASSWORD the Administrator's, SCREENSHOTS the folder the
page screenshots go to. The machine holds the controlled-to-be user Alice,
the non-administrator Bob (password "bobs-password") and two programs in no
application: C:\\Program Files\\Sketch\\Sketch.exe and
C:\\Program Files\\Doodle\\Doodle.exe. Exits 0 when every step held.
"""
import os
import subprocess
import sys
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

TOOL, MACHINE, ADDRESS, PASSWORD, SHOTS = sys.argv[1:6]
SITE = ADDRESS.rstrip("/") + "/Zentrel/"
SKETCH = "C:\\Program Files\\Sketch\\Sketch.exe"
DOODLE = "C:\\Program Files\\Doodle\\Doodle.exe"

steps = 0


def step(text):
    global steps
    steps += 1
    print(f"  {steps:2}. {text}", flush=True)


def check(condition, text):
    if not condition:
        raise AssertionError(text)


def eventually(condition, text, seconds=60):
    """Checks condition (a function) until it holds: a click that posts a
    form returns before the browser has followed the answer's redirect, so
    what the next page shows can take a moment to appear, longer on a busy
    machine."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            if condition():
                return
        except (NoSuchElementException, StaleElementReferenceException, AssertionError):
            pass
        if time.monotonic() > deadline:
            raise AssertionError(text)
        time.sleep(0.2)


def launch(user, program, answers=()):
    """Starts program as user through the hook; returns the machine's last
    word: running or terminated."""
    queue = os.environ["QUILLON_ANSWERS"]
    with open(queue, "w") as f:
        f.write("".join(a + "\n" for a in answers))
    # The started program writes to the tool's standard error and outlives
    # the tool: a pipe there would keep this call waiting until the program
    # ends on its own, and the kill below would aim at a process long gone.
    report = subprocess.run([TOOL, "start", MACHINE, "--user", user, "--wait-ms", "120000", "--",
                             f'"{program}"'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True, check=True).stdout
    pid = [line.split()[-1] for line in report.splitlines() if " as process " in line]
    fate = report.strip().splitlines()[-1]
    if fate == "running" and pid:
        subprocess.run(["kill", pid[0]], check=False)
    return fate


def shot(driver, name):
    path = os.path.join(SHOTS, name + ".png")
    # The window's size includes the browser's own frame: the page gets the
    # inner height, so the frame is added for the whole page to show.
    height = driver.execute_script("return document.body.scrollHeight")
    frame = driver.execute_script("return window.outerHeight - window.innerHeight")
    driver.set_window_size(1280, max(720, min(height + 40, 2400)) + frame)
    driver.save_screenshot(path)
    print(f"      screenshot {path}")


def page(driver, query=""):
    driver.get(SITE + ("ZentrelWeb.exe?" + query if query else ""))


def body(driver):
    return driver.find_element(By.TAG_NAME, "body").text


def row_with(driver, text):
    for row in driver.find_elements(By.CSS_SELECTOR, "tbody tr"):
        if text in row.text:
            return row
    raise AssertionError(f"no row holds {text!r}")


def main():
    os.makedirs(SHOTS, exist_ok=True)
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900", "--no-proxy-server", "--lang=en-US"):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(180)
    driver.implicitly_wait(30)
    try:
        run(driver)
    finally:
        driver.quit()
    print(f"browser test: {steps} steps passed")


def run(driver):
    step("an anonymous visit gets the logon form (401)")
    try:
        urllib.request.urlopen(SITE)
        check(False, "the site answered without a logon")
    except urllib.error.HTTPError as error:
        check(error.code == 401, f"anonymous request got {error.code}")
    driver.get(SITE)
    check(driver.find_element(By.NAME, "password"), "no password field")
    shot(driver, "01-logon")

    step("a wrong password is refused")
    driver.find_element(By.NAME, "user").send_keys("Administrator")
    driver.find_element(By.NAME, "password").send_keys("not the password")
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
    eventually(lambda: "incorrect" in body(driver), "a wrong password was not refused")

    step("a non-administrator logs on and is refused (403)")
    driver.find_element(By.NAME, "user").send_keys("Bob")
    driver.find_element(By.NAME, "password").send_keys("bobs-password")
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
    eventually(lambda: "Administrators only" in body(driver), "Bob was let in")
    shot(driver, "02-not-an-administrator")
    driver.delete_all_cookies()

    step("the administrator logs on: the overview")
    driver.get(SITE)
    driver.find_element(By.NAME, "user").send_keys("Administrator")
    driver.find_element(By.NAME, "password").send_keys(PASSWORD)
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
    eventually(lambda: "Overview" in driver.title, f"after logon: {driver.title}")
    eventually(lambda: "in no application" in body(driver), "no counts on the overview")
    shot(driver, "03-overview")

    step("Users: Alice is not controlled; the administrator controls her")
    driver.find_element(By.LINK_TEXT, "Users").click()
    eventually(lambda: driver.title.startswith("Users"), "the Users page did not open")
    row = row_with(driver, "Alice")
    check("Not controlled" in row.text, "Alice was controlled already")
    row.find_element(By.XPATH, ".//button[normalize-space()='Control']").click()
    eventually(lambda: "now controls" in body(driver), "no note after enabling")
    eventually(lambda: "Controlled" in row_with(driver, "Alice").text, "Alice is not controlled")
    shot(driver, "04-users")

    step("Applications: create Drawing")
    driver.find_element(By.LINK_TEXT, "Applications").click()
    driver.find_element(By.ID, "name").send_keys("Drawing")
    driver.find_element(By.XPATH, "//button[normalize-space()='Create']").click()
    eventually(lambda: "The application was created." in body(driver), "no note after creating")
    eventually(lambda: driver.find_elements(By.LINK_TEXT, "Drawing"), "Drawing is not listed")
    shot(driver, "05-applications")

    step("Executables in no application: filter SKETCH, move Sketch.exe to Drawing")
    driver.find_element(By.PARTIAL_LINK_TEXT, "Executables in no application").click()
    driver.find_element(By.ID, "filter").send_keys("sketch")
    driver.find_element(By.XPATH, "//button[normalize-space()='Filter']").click()
    eventually(lambda: "filter=sketch" in driver.current_url, "the filter was not applied")
    row = row_with(driver, SKETCH.upper())
    row.find_element(By.CSS_SELECTOR, "input[type=checkbox]").click()
    Select(driver.find_element(By.ID, "app")).select_by_visible_text("Drawing")
    shot(driver, "06-unassigned")
    driver.find_element(By.XPATH, "//button[normalize-space()='Move']").click()
    eventually(lambda: "The executables were moved." in body(driver), "no note after moving")
    driver.find_element(By.LINK_TEXT, "Applications").click()
    driver.find_element(By.LINK_TEXT, "Drawing").click()
    eventually(lambda: SKETCH.upper() in body(driver), "Sketch.exe is not in Drawing")
    shot(driver, "07-application")

    step("Alice's page: grant Drawing")
    page(driver, "page=user&name=Alice")
    Select(driver.find_element(By.ID, "app")).select_by_visible_text("Drawing")
    driver.find_element(By.XPATH, "//button[normalize-space()='Grant']").click()
    eventually(lambda: "The application was granted." in body(driver), "no note after granting")
    eventually(lambda: "Drawing" in driver.find_element(By.CSS_SELECTOR, "ul.grants").text, "no grant shown")
    shot(driver, "08-user")

    step("Alice starts Sketch.exe through the hook: it runs")
    check(launch("Alice", SKETCH) == "running", "Sketch.exe was not allowed")

    step("Alice starts Doodle.exe: terminated; she asks for access")
    check(launch("Alice", DOODLE, ["Yes", "OK"]) == "terminated", "Doodle.exe was allowed")

    step("the overview shows the denial; Access requests shows her request")
    page(driver, "page=overview")
    check(DOODLE.upper() in body(driver), "the denial is not on the overview")
    shot(driver, "09-overview-denial")
    driver.find_element(By.LINK_TEXT, "Access requests").click()
    eventually(lambda: driver.title.startswith("Access requests"), "the requests page did not open")
    row = row_with(driver, DOODLE.upper())
    check("Alice" in row.text, "the request is not Alice's")
    shot(driver, "10-requests")

    step("approve it into a new application Doodles")
    row.find_element(By.CSS_SELECTOR, "input[name=new_app]").send_keys("Doodles")
    row.find_element(By.XPATH, ".//button[normalize-space()='Approve']").click()
    eventually(lambda: "The request was approved" in body(driver), "no note after approving")
    eventually(lambda: "No access request is waiting." in body(driver), "the request is still listed")

    step("Alice starts Doodle.exe again: it runs")
    check(launch("Alice", DOODLE) == "running", "Doodle.exe is still denied")

    step("Explain: Alice and Doodle.exe, then Alice and an unknown program")
    driver.find_element(By.LINK_TEXT, "Explain").click()
    driver.find_element(By.ID, "user").send_keys("Alice")
    driver.find_element(By.ID, "path").send_keys(DOODLE)
    driver.find_element(By.XPATH, "//button[normalize-space()='Explain']").click()
    verdict = driver.find_element(By.CSS_SELECTOR, ".verdict").text
    check(verdict.startswith("Allowed"), f"explain said {verdict!r}")
    eventually(lambda: "Doodles" in body(driver), "the application is not among the facts")
    shot(driver, "11-explain")
    page(driver, "page=explain&user=Alice&path=C%3A%5CWINDOWS%5Csystem32%5Csol.exe")
    check(driver.find_element(By.CSS_SELECTOR, ".verdict").text.startswith("Denied"),
          "an ungranted program was allowed")

    step("an application named like a script shows as text")
    driver.find_element(By.LINK_TEXT, "Applications").click()
    driver.find_element(By.ID, "name").send_keys("<script>alert(1)</script>")
    driver.find_element(By.XPATH, "//button[normalize-space()='Create']").click()
    eventually(lambda: driver.find_elements(By.LINK_TEXT, "<script>alert(1)</script>"), "not shown as text")
    shot(driver, "12-hostile-name")


if __name__ == "__main__":
    try:
        main()
    except AssertionError as error:
        print(f"browser test FAILED at step {steps}: {error}", file=sys.stderr)
        sys.exit(1)
