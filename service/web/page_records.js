// Archived records, newest first, paged by the server; their photos as
// thumbnails, large on a click.

import {photoPath} from "./api.js";
import {el, fill, pager, recordTime, zoneName} from "./dom.js";
import {thumbnail} from "./photo_view.js";
import {startRun} from "./page_controllers.js";

const LIMIT = 25;

export function render(root, ctx) {
  const filter = {controller: ctx.params.get("controller") || "", card: ctx.params.get("card") || ""};
  const offset = Math.max(0, Number(ctx.params.get("offset")) || 0);
  const controller = el("input", {id: "records-controller", placeholder: "Controller", value: filter.controller,
    "aria-label": "Controller"});
  const card = el("input", {id: "records-card", placeholder: "Card", value: filter.card, "aria-label": "Card"});
  const list = el("div", {id: "records-list"}, el("p", {class: "loading"}, "Loading…"));
  const apply = (event) => {
    event.preventDefault();
    ctx.go("records", [], {controller: controller.value.trim(), card: card.value.trim()});
  };
  root.append(
    el("div", {class: "toolbar"},
      el("h1", {}, "Records"),
      el("form", {class: "filter", id: "records-filter", onsubmit: apply}, controller, card,
        el("button", {type: "submit"}, "Show")),
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "archive-now",
        onclick: () => startRun(ctx, "archive", [])}, "Archive now")),
    list);

  async function load() {
    const answer = await ctx.load("/api/v1/records", {...filter, offset, limit: LIMIT}, list);
    if (!answer) return;
    const records = answer.records || [];
    const total = answer.total ?? records.length;
    const kinds = records.some((r) => r.kind !== undefined);
    const titles = ["Local time", "Controller", "Site", "Card", kinds ? "Kind" : null, "Photo"].filter(Boolean);
    fill(list,
      pager(offset, LIMIT, total, (o) => ctx.go("records", [], {...filter, offset: o})),
      el("table", {id: "records", class: "list records"},
        el("thead", {}, el("tr", {}, titles.map((t) => el("th", {}, t)))),
        el("tbody", {}, records.map((r) => row(r, kinds)),
          records.length ? null : el("tr", {}, el("td", {colspan: titles.length, class: "empty"}, "No records.")))));
  }

  function row(record, kinds) {
    const path = photoPath(record);
    const caption = `${record.controller} · card ${record.card} · ${recordTime(record.time)}`;
    return el("tr", {dataset: {test: "record"}},
      el("td", {class: "mono nowrap", dataset: {test: "record-time"}}, localTime(record)),
      el("td", {}, record.controller ?? ""),
      el("td", {}, record.site ?? ""),
      el("td", {}, el("span", {class: "mono"}, record.card ?? ""),
        record.person ? el("div", {class: "detail", dataset: {test: "record-person"}},
          record.person_name ? `${record.person_name} (${record.person})` : record.person) : null),
      kinds && el("td", {}, record.kind ?? ""),
      el("td", {}, path ? thumbnail(ctx.photos, path, caption) : el("span", {class: "none"}, "no photo")));
  }

  load();
}

// What the controller's clock said, in its site's zone, with the UTC instant
// it stands for on hovering; a time the clocks skipped or repeated says so.
const KIND_NOTES = {
  ambiguous: "this local time occurred twice (the clocks went back); the earlier is taken",
  nonexistent: "the clocks skipped this local time; the instant the gap ended is taken",
  invalid: "the controller's clock gave no real date and time; the instant it was archived is taken",
};

function localTime(record) {
  const instant = record.instant ? new Date(record.instant) : null;
  const zone = instant && record.zone ? zoneName(instant, record.zone) : "";
  const note = KIND_NOTES[record.local_kind];
  return [
    el("span", {title: instant ? `${instant.toISOString().replace(".000", "")} (UTC), ${record.zone}` : null},
      `${recordTime(record.time)}${zone ? ` ${zone}` : ""}`),
    note ? el("span", {class: "badge none", title: note, dataset: {test: "local-kind"}}, record.local_kind) : null,
  ];
}
