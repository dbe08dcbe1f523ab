"""The web page as the browser tests drive it."""
import os
from pathlib import Path

from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from browser import console_problems

IGNORED = (NoSuchElementException, StaleElementReferenceException)
SCREENSHOTS = Path(os.environ.get("DOORLINKD_SCREENSHOTS", "screenshots"))


class Page:
    def __init__(self, driver, url):
        self.driver = driver
        self.url = url.rstrip("/") + "/"

    def sign_in(self, token):
        """Signs in afresh with the form, and waits for the first page. The
        token of an earlier test is cleared on a page of the origin that runs
        no script of the service's (/health), so the page never starts with it."""
        self.driver.get(self.url + "health")
        self.driver.execute_script("sessionStorage.clear()")
        self.driver.get(self.url)
        field = self.wait(lambda d: d.find_element(By.ID, "token"))
        field.send_keys(token)
        self.driver.find_element(By.ID, "sign-in-button").click()
        self.wait(lambda d: d.find_element(By.ID, "who").text)
        console_problems(self.driver)  # drop what came before

    def go(self, route, ready_css):
        """Opens #/route and waits until ready_css is on the page."""
        target = f"{self.url}#/{route}"
        if self.driver.current_url == target:
            self.driver.refresh()  # the same hash again would not load the page afresh
        else:
            self.driver.get(target)
        return self.wait(lambda d: d.find_element(By.CSS_SELECTOR, ready_css))

    def wait(self, condition, timeout=20, message=""):
        """condition(driver) until it is true; a missing or replaced element
        counts as not yet."""
        return WebDriverWait(self.driver, timeout, poll_frequency=0.1, ignored_exceptions=IGNORED).until(
            condition, message)

    def all(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def one(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def fetch(self, method, path):
        """The HTTP status of a request the page's own script makes with the
        signed-in token."""
        return self.driver.execute_async_script(
            "const [method, path, done] = arguments;"
            "fetch(path, {method, headers: {Authorization: 'Bearer ' + sessionStorage.getItem('doorlinkd.token')}})"
            ".then((r) => done(r.status), (e) => done(String(e)));", method, path)

    def open_form(self, button, first_field):
        """Clicks the button and waits for the form it opens; its field."""
        self.one(button).click()
        return self.wait(lambda d: self.one(first_field))

    def save(self, prefix):
        """Saves the form #PREFIX-form and waits until it closed, the service
        having taken it, or shows the service's refusal; that refusal, or ""."""
        self.one(f"#{prefix}-save").click()
        refusal = f"[data-test={prefix}-error]"
        self.wait(lambda d: not self.all(f"#{prefix}-form") or self.one(refusal).is_displayed())
        return self.one(refusal).text if self.all(f"#{prefix}-form") else ""

    def error_banner(self):
        banner = self.one("#error")
        return banner.text if banner.is_displayed() else ""

    def screenshot(self, name):
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        self.driver.save_screenshot(str(SCREENSHOTS / f"{name}.png"))

    def problems(self):
        """Script errors and policy violations the console reported."""
        return console_problems(self.driver)
