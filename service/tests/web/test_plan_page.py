"""The plan page: an operator plans the policy of the fleet's set-up, applies
it and sees each controller confirmed by read-back; a plan that an edit made
stale is refused in the service's words; a viewer only reads."""
from conftest import PEOPLE
from plan_steps import SECTION, confirm_apply, drift, make_plan, planned, wait_confirmed


def test_an_operator_plans_the_policy_applies_it_and_sees_every_controller_confirmed(page, fleet):
    page.sign_in(fleet.operator)
    page.go("plan", "#plan-make")
    make_plan(page)
    # Office hours on the site main: each of its controllers gains each person's card.
    cards = {(card, "added") for _, _, card in PEOPLE}
    assert planned(page) == {name: cards for name in fleet.names}
    ident, name, card = PEOPLE[0]
    row = f'{SECTION.format(fleet.names[0])} tr[data-card="{card}"]'
    assert page.one(f"{row} [data-test=person]").text == f"{ident} {name}"
    assert page.one(f"{row} [data-test=reasons]").text == "person added"
    page.screenshot("plan")

    said = confirm_apply(page, "plan-confirm")
    assert f"{len(cards) * len(fleet.names)} card changes on {len(fleet.names)} controllers" in said, said
    wait_confirmed(page, fleet.names)
    assert page.one("[data-test=apply-summary]").text == \
        f"Applied: all {len(fleet.names)} controllers confirmed by read-back."
    assert page.all("#plan-apply") == []
    page.screenshot("plan-applied")
    # Read back by the service too: no drift, and a new plan changes nothing.
    assert drift(fleet) == {}
    make_plan(page)
    assert planned(page) == {}
    assert page.one("[data-test=plan-summary]").text.startswith("Nothing would change")
    assert page.problems() == []


def test_a_plan_made_stale_by_an_edit_is_refused_and_a_new_one_made(page, fleet):
    fleet.service.run("apply", "--now")  # the fleet holds the newest policy
    first = fleet.names[0]
    fleet.service.run("group", "add", "lab", "--grant", f"always@controllers:{first}")
    fleet.service.run("person", "change", PEOPLE[0][0], "--groups", "staff lab")
    page.sign_in(fleet.operator)
    page.go("plan", "#plan-make")
    status = page.wait(lambda d: page.one("[data-test=policy-status]").text)
    assert status.startswith("Policy revision ") and "not yet applied on 3 of 3 controllers" in status, status
    # A plan made on the command line opens at its own address.
    _, made = fleet.service.run("plan", expect=None)
    page.go(f"plan/{made['plan']}", "[data-test=plan]")
    assert page.one("[data-test=plan]").get_attribute("data-plan") == str(made["plan"])
    assert planned(page) == {first: {(PEOPLE[0][2], "changed")}}
    assert page.one("[data-test=plan-unchanged]").text == f"2 controllers unchanged: {', '.join(fleet.names[1:])}"
    assert "group lab added" in page.one(f"{SECTION.format(first)} [data-test=reasons]").text

    revision = page.one("[data-test=plan]").text.split("revision ")[1].split()[0]
    fleet.service.run("person", "change", PEOPLE[1][0], "--notes", "moved to the annex")
    confirm_apply(page)
    refusal = page.wait(lambda d: page.one("[data-test=refusal-text]").text)
    assert refusal.startswith("the policy is at revision ") and refusal.endswith(f"the plan compiled {revision}")
    assert page.all("#plan-apply") == []
    page.screenshot("plan-refused")
    make_plan(page)
    assert planned(page) == {first: {(PEOPLE[0][2], "changed")}}
    # The browser logs the refused request itself; nothing else went wrong.
    assert [p for p in page.problems() if "/apply - " not in p or "409" not in p] == []


def test_a_viewer_sees_no_plan_button_and_no_apply(page, fleet):
    page.sign_in(fleet.viewer)
    page.go("plan", "[data-test=plan-viewer-note]")
    assert page.all("#plan-make") == [] and page.all("#plan-apply") == []
    page.screenshot("plan-viewer")
    assert page.problems() == []
    assert page.fetch("POST", "/api/v1/plans") == 403
