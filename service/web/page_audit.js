// The audit log (admins only): who did what, from where, and how it went.

import {el, fill, pager, table, when} from "./dom.js";

const LIMIT = 50;

export async function render(root, ctx) {
  const offset = Math.max(0, Number(ctx.params.get("offset")) || 0);
  const list = el("div", {id: "audit-list"}, el("p", {class: "loading"}, "Loading…"));
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Audit log")), list);
  const answer = await ctx.load("/api/v1/audit", {offset, limit: LIMIT}, list);
  if (!answer) return;
  const entries = answer.audit || [];
  fill(list,
    table([
      {title: "Time", class: "mono nowrap", cell: (a) => when(a.time)},
      {title: "Who", cell: (a) => a.who ?? ""},
      {title: "From", class: "mono", cell: (a) => a.address ?? ""},
      {title: "Action", class: "mono", cell: (a) => a.action ?? ""},
      {title: "Target", cell: (a) => a.target ?? ""},
      {title: "Result", cell: (a) => el("span", {class: a.result === "ok" ? "good-text" : "bad-text"}, a.result ?? "")},
      {title: "Detail", class: "nowrap", cell: (a) => a.detail ?? ""},
    ], entries, {id: "audit", class: "list"}),
    entries.length ? null : el("p", {class: "empty"}, "Nothing audited yet."),
    pager(offset, LIMIT, answer.total ?? entries.length, (o) => ctx.go("audit", [], {offset: o})));
}
