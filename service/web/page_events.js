// Live events, newest on top, as the stream brings them: no reload.

import {photoPath} from "./api.js";
import {el, when} from "./dom.js";
import {thumbnail} from "./photo_view.js";

const SHOWN = 200;
const KINDS = ["error", "photo", "record", "sync", "status"];

export function render(root, ctx) {
  const kind = KINDS.includes(ctx.params.get("kind")) ? ctx.params.get("kind") : "";
  const body = el("tbody", {id: "events-body"});
  const choice = el("select", {id: "events-kind", "aria-label": "Kind of events",
    onchange: () => ctx.go("events", [], {kind: choice.value})},
  el("option", {value: ""}, "every kind"), KINDS.map((k) => el("option", {value: k, selected: k === kind}, k)));
  root.append(
    el("div", {class: "toolbar"}, el("h1", {}, "Live events"), choice),
    el("p", {class: "summary"}, "Error reports and photos the controllers push, sync results and status changes, " +
      "as they happen."),
    el("table", {id: "events", class: "list"},
      el("thead", {}, el("tr", {}, ["#", "At", "Controller", "Kind", "What"].map((t) => el("th", {}, t)))),
      body));
  const empty = el("tr", {class: "empty-row"}, el("td", {colspan: 5, class: "empty"}, "No events yet."));

  const show = (event, first) => {
    if (kind && event.kind !== kind) return;
    empty.remove();
    const row = el("tr", {dataset: {test: "event", kind: event.kind || "", id: String(event.id ?? "")}},
      el("td", {class: "number"}, String(event.id ?? "")),
      el("td", {class: "mono nowrap"}, when(event.at)),
      el("td", {}, event.controller ?? ""),
      el("td", {}, el("span", {class: `kind kind-${event.kind}`}, event.kind ?? "")),
      el("td", {class: "what"}, what(event, ctx)));
    if (first) body.prepend(row);
    else body.append(row);
    while (body.rows.length > SHOWN) body.lastElementChild.remove();
  };
  for (const event of ctx.live.events.slice(0, SHOWN)) show(event, false);
  if (!body.rows.length) body.append(empty);
  ctx.onLeave(ctx.live.follow((event) => show(event, true)));
}

// The kind's own fields, in words.
function what(event, ctx) {
  switch (event.kind) {
    case "error":
      return el("span", {class: "error-text", dataset: {test: "error-text"}}, event.text ?? "");
    case "photo":
    case "record": {
      const path = photoPath(event);
      const holder = event.person_name ? ` (${event.person_name})` : "";
      const text = `card ${event.card ?? "?"}${holder} at ${event.time ?? "?"}`;
      return [path ? thumbnail(ctx.photos, path, `${event.controller} · ${text}`) : null, el("span", {}, text)];
    }
    case "sync":
      return `run ${event.run ?? "?"}: ${String(event.status ?? "").replace(/_/g, " ")}, ${event.cards ?? "?"} cards, ` +
        `${event.drift ?? 0} drift${event.message ? ` (${event.message})` : ""}`;
    case "status":
      return `${event.reachable ? "reachable" : "not answering"}` +
        `${event.skew !== undefined && event.skew !== null ? `, clock skew ${event.skew} s` : ""}` +
        `${event.message ? ` (${event.message})` : ""}`;
    default: {
      const {id, at, controller, kind, ...rest} = event;
      return JSON.stringify(rest);
    }
  }
}
