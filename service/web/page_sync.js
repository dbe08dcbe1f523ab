// Sync runs, newest first, and one run's results with their drift.

import {get} from "./api.js";
import {badge, count, el, fill, pager, table, when} from "./dom.js";

const LIMIT = 25;
const GOOD = ["in_step", "repaired"];

export function render(root, ctx) {
  if (ctx.rest[0]) renderRun(root, ctx, ctx.rest[0]);
  else renderRuns(root, ctx);
}

async function renderRuns(root, ctx) {
  const offset = Math.max(0, Number(ctx.params.get("offset")) || 0);
  const list = el("div", {id: "sync-list"}, el("p", {class: "loading"}, "Loading…"));
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Sync runs")), list);
  const answer = await ctx.load("/api/v1/sync/runs", {offset, limit: LIMIT}, list);
  if (!answer) return;
  const runs = answer.runs || [];
  const total = answer.total ?? runs.length;
  fill(list,
    table([
      {title: "Run", cell: (r) => el("a", {href: ctx.link("sync", [String(r.id)]), dataset: {test: "run-link"}},
        `#${r.id}`)},
      {title: "Started", cell: (r) => when(r.started)},
      {title: "By", cell: (r) => r.owner ?? ""},
      {title: "Kind", cell: (r) => (r.check_only ? "check only" : "sync")},
      {title: "Controllers", class: "number", cell: (r) => count(r.controllers)},
      {title: "Drift rows", class: "number", cell: (r) => count(r.drift)},
      {title: "Failed", class: "number", cell: (r) => (r.failed ? el("span", {class: "bad-text"}, count(r.failed)) : "0")},
    ], runs, {id: "sync-runs", class: "list"}),
    runs.length ? null : el("p", {class: "empty"}, "No sync has run yet."),
    answer.total === undefined ? null : pager(offset, LIMIT, total, (o) => ctx.go("sync", [], {offset: o})));
}

function renderRun(root, ctx, id) {
  const body = el("div", {id: "sync-run"}, el("p", {class: "loading"}, "Loading…"));
  root.append(el("div", {class: "toolbar"},
    el("a", {href: ctx.link("sync"), class: "back"}, "‹ Sync runs"),
    el("h1", {}, `Sync run #${id}`)), body);
  showRun(body, ctx, id);
  // A run still going: each controller's result comes as a sync event.
  ctx.onLeave(ctx.live.follow((event) => {
    if (event.kind === "sync" && String(event.run) === String(id)) showRun(body, ctx, id);
  }));
}

async function showRun(body, ctx, id) {
  const asked = (body.asked = (body.asked || 0) + 1);  // only the latest answer is shown
  let run;
  try {
    run = await get(`/api/v1/sync/runs/${encodeURIComponent(id)}`);
    if (asked !== body.asked) return;
  } catch (e) {
    fill(body);
    ctx.error(e);
    return;
  }
  const results = run.results || [];
  const drift = results.reduce((sum, r) => sum + (r.drift || []).length, 0);
  const drifted = results.filter((r) => (r.drift || []).length);
  fill(body,
    el("p", {class: "summary"}, `${count(results.length)} controllers have their results; ${count(drift)} drift rows.`),
    results.length
      ? table([
        {title: "Controller", cell: (r) => r.name ?? ""},
        {title: "Status", cell: (r) => badge(r.status, GOOD)},
        {title: "Cards", class: "number", cell: (r) => count(r.cards)},
        {title: "Drift rows", class: "number", cell: (r) => count((r.drift || []).length)},
        {title: "Message", cell: (r) => r.message ?? ""},
      ], results, {id: "sync-results", class: "list"})
      : el("p", {class: "empty"}, "No controller has a result in this run yet."),
    drifted.map((r) => el("section", {class: "result", dataset: {test: "drift", controller: r.name ?? ""}},
      el("h2", {}, `Drift on ${r.name ?? ""}`),
      table([
        {title: "Card", cell: (d) => d.card ?? ""},
        {title: "Field", cell: (d) => d.field ?? ""},
        {title: "In the database", cell: (d) => side(d.database)},
        {title: "On the controller", cell: (d) => side(d.controller)},
      ], r.drift, {class: "list drift"}))));
}

// A drift value: null when one side has none, "" when the field is empty.
function side(value) {
  if (value === null || value === undefined) return el("em", {class: "none"}, "none");
  return value === "" ? el("em", {class: "none"}, "empty") : String(value);
}
