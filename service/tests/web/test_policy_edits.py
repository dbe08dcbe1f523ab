"""Editing the policy on the page: an operator adds a schedule and a group,
puts a person in the group through the person's form, and finds them in a
new plan for exactly the controller the group grants; a person added on
the page and then changed behind the page's back is not overwritten: the
save is refused in the service's words and the input kept."""
from selenium.webdriver.support.ui import Select

from conftest import PEOPLE
from plan_steps import SECTION, confirm_apply, drift, make_plan, planned, wait_confirmed


def test_a_person_put_in_a_group_on_the_page_is_planned_for_its_controllers_only(page, fleet):
    fleet.service.run("apply", "--now")  # the fleet holds the newest policy
    ident, _, card = PEOPLE[0]
    last = fleet.names[-1]
    page.sign_in(fleet.operator)

    page.go("schedules", "#schedule-new")
    page.open_form("#schedule-new", "#schedule-field-name").send_keys("weekend")
    page.one("#schedule-field-saturday").send_keys("09:00-13:00")
    page.screenshot("schedule-form")
    assert page.save("schedule") == ""
    week = page.wait(lambda d: page.one('[data-schedule="weekend"]'))
    assert [d.text for d in week.find_elements("css selector", "td.ranges")] == ["closed"] * 6 + ["09:00-13:00"]
    assert len(week.find_elements("css selector", ".range")) == 1

    page.go("groups", "#group-new")
    page.open_form("#group-new", "#group-field-name").send_keys("annex")
    page.one("#group-add-grant").click()
    Select(page.one("[data-test=grant-schedule]")).select_by_value("weekend")
    Select(page.one("[data-test=grant-kind]")).select_by_value("controllers")
    Select(page.one("[data-test=grant-controllers]")).select_by_value(last)
    page.screenshot("group-form")
    assert page.save("group") == ""
    group = page.wait(lambda d: page.one('#groups tr[data-group="annex"]'))
    assert group.text.split("\n")[:2] == ["annex", f"weekend on {last}"]

    # Into the group on the person's form; their card and its PIN left as they are.
    page.go(f"people/{ident}", "#person-edit")
    page.open_form("#person-edit", '#person-field-groups input[data-group="annex"]').click()
    assert [p.get_attribute("value") for p in page.all("[data-test=card-pin]")] == [""]
    page.screenshot("person-form")
    assert page.save("person") == ""
    page.wait(lambda d: "annex" in page.one("#person-facts").text)

    # Their card changes where the group grants, on Saturdays only: the PIN stayed.
    page.go("plan", "#plan-make")
    make_plan(page)
    assert planned(page) == {last: {(card, "changed")}}
    assert page.one(f'{SECTION.format(last)} tr[data-card="{card}"] .detail').text == "saturday"
    confirm_apply(page)
    wait_confirmed(page, [last])
    assert drift(fleet) == {}
    assert page.problems() == []


def test_an_edit_made_stale_behind_the_page_is_refused_and_the_input_kept(page, fleet):
    ident, name, pin = "e3", "Cleo Marsh", "654321"
    page.sign_in(fleet.operator)
    page.go("people", "#person-new")
    page.open_form("#person-new", "#person-field-id").send_keys(ident)
    page.one("#person-field-name").send_keys(name)
    page.one("#person-add-card").click()
    for field, value in [("card-number", "00200003"), ("card-serial", "200003"), ("card-pin", pin)]:
        page.one(f"[data-test={field}]").send_keys(value)
    page.screenshot("person-new")
    assert page.save("person") == ""
    page.wait(lambda d: page.one("#person-cards tbody").text.startswith("00200003 200003"))

    typed = page.open_form("#person-edit", "#person-field-name")
    loaded = fleet.serve.json("GET", f"/api/v1/people/{ident}")["revision"]
    fleet.service.run("person", "change", ident, "--notes", "changed behind the page")
    now = fleet.serve.json("GET", f"/api/v1/people/{ident}")["revision"]
    typed.clear()
    typed.send_keys("Cleo Marsh-Berg")
    assert page.save("person")
    refusal = page.one("[data-test=person-error-text]").text
    assert f"is at revision {now}, not {loaded}: someone changed it meanwhile" in refusal, refusal
    assert page.one("#person-field-name").get_attribute("value") == "Cleo Marsh-Berg"
    assert fleet.serve.json("GET", f"/api/v1/people/{ident}")["name"] == name
    page.screenshot("person-stale")

    # Loaded afresh, the same edit is made on the saved revision.
    page.one("#person-reload").click()
    page.wait(lambda d: page.one("#person-field-name").get_attribute("value") == name)
    page.one("#person-field-name").clear()
    page.one("#person-field-name").send_keys("Cleo Marsh-Berg")
    assert page.save("person") == ""
    assert fleet.serve.json("GET", f"/api/v1/people/{ident}")["name"] == "Cleo Marsh-Berg"
    assert pin not in page.driver.page_source
    # The browser logs the refused request itself; nothing else went wrong.
    assert [p for p in page.problems() if f"/people/{ident} - " not in p or "409" not in p] == []
