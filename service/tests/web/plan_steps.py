"""The steps of the plan page the browser tests take: make a plan, read it,
apply it, and see it confirmed by read-back, on the page and by the
service's own check."""

SECTION = '.plan-controller[data-controller="{}"]'
CONFIRMED = "confirmed by read-back"


def make_plan(page):
    """Clicks Make plan (or Make a new plan) and waits for the new plan."""
    before = [p.get_attribute("data-plan") for p in page.all("[data-test=plan]")]
    page.one("#plan-remake" if page.all("#plan-remake") else "#plan-make").click()
    page.wait(lambda d: page.error_banner() or
              [p.get_attribute("data-plan") for p in page.all("[data-test=plan]")] not in ([], before))
    assert page.error_banner() == ""


def planned(page):
    """{controller: {(card, kind)}} as the page shows the plan."""
    return {s.get_attribute("data-controller"): {(r.get_attribute("data-card"), r.get_attribute("data-kind"))
                                                 for r in s.find_elements("css selector", "tbody tr")}
            for s in page.all(".plan-controller")}


def confirm_apply(page, screenshot=None):
    """Applies the plan shown, saying so in its dialog; the dialog's text."""
    page.one("#plan-apply").click()
    dialog = page.wait(lambda d: page.one("#plan-confirm").is_displayed() and page.one("#plan-confirm"))
    text = dialog.text
    if screenshot:
        page.screenshot(screenshot)
    page.one("#plan-confirm-apply").click()
    return text


def wait_confirmed(page, names):
    """Until the page shows each of the controllers confirmed by read-back."""
    page.wait(lambda d: all(page.one(f"{SECTION.format(n)} [data-test=apply-status]").text == CONFIRMED
                            for n in names), timeout=60, message=page.one("[data-test=plan-outcome]").text)


def drift(fleet):
    """The controllers the service's own read-back finds out of step, with
    their status: {} when every controller holds what it was sent."""
    checked = fleet.service.run("sync", "--check")
    assert {c["name"] for c in checked["controllers"]} == set(fleet.names)
    return {c["name"]: c["status"] for c in checked["controllers"] if c["status"] != "in_step"}
