// People: searched and paged by the server; one person's page with their
// cards (never a PIN: the service does not answer one), groups, validity,
// where and when they may enter this week, their recent records, and, for
// operators, a form to add or edit a person and Disable behind a dialog
// that names the controllers it reaches.

import {api, photoPath} from "./api.js";
import {count, el, fill, pager, recordTime, searchBox} from "./dom.js";
import {FormPlace} from "./form.js";
import {personForm} from "./person_form.js";
import {thumbnail} from "./photo_view.js";

const LIMIT = 50;
const RECORDS_PER_CARD = 10;
const CONFIRMED = ["in_step", "repaired"];

export function render(root, ctx) {
  if (ctx.rest[0]) renderPerson(root, ctx, ctx.rest[0]);
  else renderPeople(root, ctx);
}

function validity(person) {
  if (!person.valid_from && !person.valid_until) return "always";
  return `${person.valid_from ?? "…"} to ${person.valid_until ?? "…"}`;
}

function renderPeople(root, ctx) {
  const search = ctx.params.get("search") || "";
  const offset = Math.max(0, Number(ctx.params.get("offset")) || 0);
  const input = searchBox(ctx, "people", search,
    {id: "person-search", placeholder: "Name, id or card", "aria-label": "Search people"});
  const list = el("div", {id: "people-list"}, el("p", {class: "loading"}, "Loading…"));
  const editor = new FormPlace(ctx, "person-editor", null);
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "People"), input, el("span", {class: "spacer"}),
    ctx.canOperate && el("button", {type: "button", id: "person-new", onclick: () => add()}, "New person")),
  editor.node, list);

  // A new person's form; saved, their page.
  async function add() {
    const groups = await groupNames(ctx);
    if (!groups || !ctx.alive()) return;
    editor.open(personForm(null, groups, {saved: (person) => ctx.go("people", [person.id]), close: editor.close}));
  }

  (async () => {
    const answer = await ctx.load("/api/v1/people", {search, offset, limit: LIMIT}, list);
    if (!answer) return;
    const people = answer.people || [];
    const total = answer.total ?? people.length;
    const columns = ["Id", "Name", "Groups", "Cards", "Valid", ""];
    fill(list,
      el("table", {id: "people", class: "list", dataset: {total: String(total)}},
        el("thead", {}, el("tr", {}, columns.map((t) => el("th", {}, t)))),
        el("tbody", {}, people.map((p) => el("tr", {dataset: {person: p.id}},
          el("td", {class: "mono"}, el("a", {href: ctx.link("people", [p.id])}, p.id)),
          el("td", {}, p.name),
          el("td", {}, (p.groups || []).join(", ")),
          el("td", {class: "mono"}, (p.cards || []).map((c) => c.card).join(" ")),
          el("td", {}, validity(p)),
          el("td", {}, p.active ? null : el("span", {class: "badge bad"}, "disabled")))),
        people.length ? null : el("tr", {}, el("td", {colspan: columns.length, class: "empty"},
          search ? "No one matches." : "No people yet.")))),
      pager(offset, LIMIT, total, (o) => ctx.go("people", [], {search, offset: o})));
  })();
}

function renderPerson(root, ctx, id) {
  const head = el("div", {class: "toolbar"}, el("h1", {}, `Person ${id}`));
  const facts = el("div", {id: "person-facts"}, el("p", {class: "loading"}, "Loading…"));
  const access = el("div", {id: "person-access"});
  const records = el("div", {id: "person-records"});
  const leaving = el("div", {id: "person-leaving"});
  const editor = new FormPlace(ctx, "person-editor", load);
  root.append(head, leaving, editor.node, facts, el("h2", {}, "Where and when, this week"), access,
    el("h2", {}, "Recent records"), records);

  // The person as the service keeps them now; null when not loaded.
  async function load() {
    const person = await ctx.load(`/api/v1/people/${encodeURIComponent(id)}`, {}, facts);
    if (!person || !ctx.alive()) return null;
    const report = await ctx.load("/api/v1/reports/access", {person: id}, access);
    const reached = (report?.controllers || []).filter((c) => (c.days || []).some((d) => d.ranges.length));
    fill(head, el("h1", {}, `${person.name} `, el("span", {class: "mono detail"}, person.id)),
      person.active ? null : el("span", {class: "badge bad", dataset: {test: "disabled"}}, "disabled"),
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "person-edit", onclick: () => edit(person)}, "Edit"),
      ctx.canOperate && person.active
        ? el("button", {type: "button", id: "person-disable", class: "danger",
          onclick: () => confirmDisable(person, reached)}, "Disable…")
        : null);
    fill(facts, el("dl", {class: "facts"},
      el("dt", {}, "Groups"), el("dd", {}, (person.groups || []).join(", ") || "none"),
      el("dt", {}, "Valid"), el("dd", {}, validity(person)),
      el("dt", {}, "Email"), el("dd", {}, person.email || "none"),
      el("dt", {}, "Cards"), el("dd", {},
        el("table", {class: "list", id: "person-cards"},
          el("thead", {}, el("tr", {}, ["Card", "Serial", "PIN"].map((t) => el("th", {}, t)))),
          el("tbody", {}, (person.cards || []).map((c) => el("tr", {},
            el("td", {class: "mono"}, c.card), el("td", {class: "mono"}, c.serial ?? ""),
            el("td", {class: "detail"}, "set; never shown")))))),
      person.notes ? [el("dt", {}, "Notes"), el("dd", {class: "notes"}, person.notes)] : null));
    if (report) fill(access, accessTable(report));
    loadRecords(person);
    return person;
  }

  // The form on the person as loaded: a save names that revision, and a
  // refused one may load the person afresh into a new form.
  async function edit(person) {
    const groups = await groupNames(ctx);
    if (!groups || !ctx.alive()) return;
    editor.open(personForm(person, groups, {
      saved: (saved) => editor.done(`${saved.name} (${saved.id}) saved.`),
      close: editor.close,
      reload: editor.again((fresh) => fresh, edit),
    }));
  }

  load();

  async function loadRecords(person) {
    const lists = await Promise.all((person.cards || []).map((c) =>
      ctx.load("/api/v1/records", {card: c.card, limit: RECORDS_PER_CARD}, null)));
    if (!ctx.alive()) return;
    const all = lists.flatMap((l) => (l && l.records) || [])
      .sort((a, b) => String(b.instant ?? b.time).localeCompare(String(a.instant ?? a.time)))
      .slice(0, RECORDS_PER_CARD * 2);
    fill(records, all.length
      ? el("table", {class: "list", id: "person-record-list"},
        el("thead", {}, el("tr", {}, ["Time", "Controller", "Card", "Photo"].map((t) => el("th", {}, t)))),
        el("tbody", {}, all.map((r) => {
          const path = photoPath(r);
          const caption = `${r.controller} · card ${r.card} · ${recordTime(r.time)}`;
          return el("tr", {},
            el("td", {}, recordTime(r.time)), el("td", {}, r.controller), el("td", {class: "mono"}, r.card),
            el("td", {}, path ? thumbnail(ctx.photos, path, caption) : el("span", {class: "none"}, "no photo")));
        })))
      : el("p", {class: "empty"}, "No records of their cards."));
  }

  function confirmDisable(person, reached) {
    const names = reached.map((c) => c.controller);
    const dialog = el("dialog", {class: "confirm", id: "disable-confirm"},
      el("h2", {}, `Disable ${person.name}?`),
      el("p", {}, names.length
        ? `Their cards leave ${count(names.length)} controller${names.length === 1 ? "" : "s"} at once, ` +
          "each confirmed by read-back:"
        : "No controller grants them anything now; they are disabled for every later change."),
      names.length ? el("p", {class: "mono", dataset: {test: "disable-controllers"}}, names.join(", ")) : null,
      el("div", {class: "buttons"},
        el("button", {type: "button", id: "disable-cancel", onclick: () => dialog.close()}, "Cancel"),
        el("button", {type: "button", id: "disable-go", class: "danger", onclick: () => {
          dialog.close();
          disable(person);
        }}, "Disable")));
    dialog.addEventListener("close", () => dialog.remove());
    root.append(dialog);
    dialog.showModal();
    dialog.querySelector("#disable-cancel").focus();
  }

  async function disable(person) {
    let answer;
    try {
      answer = await api("POST", `/api/v1/people/${encodeURIComponent(person.id)}/disable`);
    } catch (e) {
      ctx.error(e);
      return;
    }
    if (!ctx.alive()) return;
    document.getElementById("person-disable")?.remove();
    const waiting = new Set(answer.controllers || []);
    const rows = new Map();
    const summary = el("p", {class: "summary", dataset: {test: "leaver-summary"}});
    const report = () => {
      summary.textContent = waiting.size
        ? `Disabled. Removing their cards: ${count(rows.size - waiting.size)} of ${count(rows.size)} ` +
          "controllers confirmed by read-back…"
        : `Disabled. Their cards are gone from all ${count(rows.size)} controllers, confirmed by read-back.`;
    };
    for (const name of waiting) {
      const status = el("span", {class: "badge none"}, "removing…");
      rows.set(name, status);
    }
    fill(leaving, summary, el("table", {class: "list", id: "leaver-controllers"},
      el("tbody", {}, [...rows].map(([name, status]) =>
        el("tr", {dataset: {controller: name}}, el("td", {}, name), el("td", {}, status))))));
    report();
    const unfollow = ctx.live.follow((event) => {
      if (event.kind !== "sync" || !waiting.has(event.controller)) return;
      const status = rows.get(event.controller);
      if (CONFIRMED.includes(event.status)) {
        waiting.delete(event.controller);
        fill(status, "confirmed gone by read-back");
        status.className = "badge good";
      } else {
        fill(status, `${String(event.status).replace(/_/g, " ")}${event.message ? `: ${event.message}` : ""}`);
        status.className = "badge bad";
      }
      report();
      if (!waiting.size) unfollow();
    });
    ctx.onLeave(unfollow);
  }
}

// Every group's name, to choose from; null when they could not be loaded.
async function groupNames(ctx) {
  const answer = await ctx.load("/api/v1/groups");
  return answer ? (answer.groups || []).map((g) => g.name) : null;
}

// A row per controller, a column per local day; each cell the ranges the
// person may enter in, a holiday marked.
function accessTable(report) {
  const controllers = report.controllers || [];
  if (!controllers.length) return el("p", {class: "empty"}, "No group of theirs grants anything.");
  const days = controllers[0].days || [];
  return el("table", {class: "list access", id: "person-access-table"},
    el("thead", {}, el("tr", {}, el("th", {}, "Controller"),
      days.map((d) => el("th", {}, `${d.weekday.slice(0, 3)} ${d.date.slice(5)}`)))),
    el("tbody", {}, controllers.map((c) => el("tr", {dataset: {controller: c.controller}},
      el("td", {}, c.controller, el("div", {class: "detail"}, `${c.site} · ${c.zone}`)),
      (c.days || []).map((d) => el("td", {class: d.ranges.length ? "" : "none"},
        d.ranges.length ? d.ranges.map((r) => el("div", {class: "mono"}, r)) : "—",
        d.holiday ? el("div", {class: "detail"}, "holiday") : null))))));
}
