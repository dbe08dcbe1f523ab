// Controllers: reachability, clock skew, the latest sync and archive, the
// latest error report; door state on demand; operators open doors and sync.

import {api, get} from "./api.js";
import {badge, count, el, fill, seconds, when} from "./dom.js";

const SYNC_GOOD = ["in_step", "repaired", "ok"];
const ARCHIVE_GOOD = ["ok", "archived", "done"];

export function render(root, ctx) {
  const body = el("tbody", {id: "controllers-body"});
  const summary = el("p", {class: "summary", dataset: {test: "controllers-summary"}});
  root.append(
    el("div", {class: "toolbar"},
      el("h1", {}, "Controllers"),
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "sync-all", onclick: () => startRun(ctx, "sync", [])}, "Sync all"),
      ctx.canOperate && el("button", {type: "button", id: "archive-all", onclick: () => startRun(ctx, "archive", [])},
        "Archive all"),
      el("button", {type: "button", id: "check-all", onclick: () => checkAll()}, "Check all"),
      el("button", {type: "button", id: "controllers-refresh", onclick: () => load()}, "Refresh")),
    summary,
    el("table", {id: "controllers", class: "list"},
      el("thead", {}, el("tr", {},
        ["Name", "Site", "Address", "Reachable", "Clock skew", "Last sync", "Drift", "Last archive", "Last error report",
          "Door state", ctx.canOperate ? "Actions" : null].filter(Boolean).map((t) => el("th", {}, t)))),
      body));

  const rows = new Map();  // name → {cells}

  async function load() {
    const answer = await ctx.load("/api/v1/controllers");
    if (!answer) return;
    const list = answer.controllers || [];
    rows.clear();
    fill(body, ...list.map((c) => row(c)));
    if (!list.length) body.append(el("tr", {}, el("td", {colspan: 11, class: "empty"}, "No controllers yet.")));
    // What monitoring told since, oldest first so the newest wins.
    for (const event of ctx.live.events.slice().reverse()) update(event);
    summarise();
  }

  function summarise() {
    let reachable = 0;
    let unreachable = 0;
    for (const r of rows.values()) {
      if (r.reachable === true) reachable += 1;
      if (r.reachable === false) unreachable += 1;
    }
    summary.textContent = `${count(rows.size)} controllers: ${count(reachable)} reachable, ` +
      `${count(unreachable)} not answering, ${count(rows.size - reachable - unreachable)} not checked yet.`;
  }

  function row(c) {
    const cells = {
      reachable: el("td", {dataset: {test: "reachable"}}),
      skew: el("td", {dataset: {test: "skew"}}),
      sync: el("td", {dataset: {test: "last-sync"}}),
      drift: el("td", {class: "number", dataset: {test: "drift"}}),
      archive: el("td", {dataset: {test: "last-archive"}}),
      error: el("td", {dataset: {test: "last-error"}}),
      door: el("td", {dataset: {test: "door-state"}}),
    };
    const r = {cells, reachable: undefined};
    rows.set(c.name, r);
    setReachable(r, c.reachable, c.message);
    cells.skew.textContent = seconds(c.skew);
    setSync(r, c.last_sync, c.sync_status, c.drift);
    fill(cells.archive, badge(c.archive_status, ARCHIVE_GOOD), stamp(c.last_archive));
    cells.error.append(el("span", {class: "none"}, "—"));
    cells.door.append(el("button", {type: "button", class: "small", dataset: {test: "check"},
      onclick: () => check(c.name, r)}, "Check"));
    const actions = ctx.canOperate && el("td", {class: "actions"}, doorControls(c.name),
      el("button", {type: "button", class: "small", dataset: {test: "sync-now"},
        onclick: () => startRun(ctx, "sync", [c.name])}, "Sync now"));
    return el("tr", {dataset: {controller: c.name}},
      el("td", {class: "name"}, c.name),
      el("td", {dataset: {test: "site"}}, c.site ?? "",
        c.served === false ? el("div", {}, el("span", {class: "badge bad",
          title: "no running instance serves this site"}, "unserved")) : null),
      el("td", {class: "mono"}, c.address || ""),
      cells.reachable, cells.skew, cells.sync, cells.drift, cells.archive, cells.error, cells.door, actions);
  }

  function doorControls(name) {
    const door = el("select", {class: "small", dataset: {test: "door"}, "aria-label": `Door of ${name}`},
      [0, 1, 2, 3].map((d) => el("option", {value: String(d)}, `door ${d}`)));
    const open = async () => {
      // One click opens a real door: the operator says so once more.
      if (!window.confirm(`Open door ${door.value} of ${name} now?`)) return;
      try {
        await api("POST", `/api/v1/controllers/${encodeURIComponent(name)}/doors/${door.value}/open`);
        ctx.notice(`Door ${door.value} of ${name} opened.`);
      } catch (e) {
        ctx.error(e);
      }
    };
    return [door, el("button", {type: "button", class: "small", dataset: {test: "open-door"}, onclick: open},
      "Open door")];
  }

  function setReachable(r, reachable, message) {
    r.reachable = reachable;
    const text = reachable === true ? "yes" : reachable === false ? "no" : "unknown";
    const kind = reachable === true ? "good" : reachable === false ? "bad" : "none";
    fill(r.cells.reachable, el("span", {class: `badge ${kind}`, title: message || null}, text));
    if (reachable === false && message) r.cells.reachable.append(el("div", {class: "detail"}, message));
  }

  function setSync(r, at, status, drift) {
    fill(r.cells.sync, badge(status, SYNC_GOOD), stamp(at));
    r.cells.drift.textContent = drift === undefined || drift === null ? "—" : count(drift);
  }

  async function check(name, r) {
    r.cells.door.dataset.state = "checking";
    try {
      const status = await get(`/api/v1/controllers/${encodeURIComponent(name)}`);
      setReachable(r, status.reachable, status.message);
      if (status.skew !== undefined) r.cells.skew.textContent = seconds(status.skew);
      const state = status.door_state === undefined || status.door_state === null ? "—" : `state ${status.door_state}`;
      fill(r.cells.door, el("span", {dataset: {test: "door-value"}}, state),
        status.clock ? el("div", {class: "detail"}, `clock ${status.clock}`) : null,
        r.cells.door.querySelector("button"));
    } catch (e) {
      if (e.status === 504) setReachable(r, false, e.message);
      else ctx.error(e);
    }
    r.cells.door.dataset.state = "checked";
    summarise();
  }

  // Each controller's live status, a few at a time.
  async function checkAll() {
    const queue = [...rows.entries()];
    const worker = async () => {
      while (queue.length && ctx.alive()) {
        const [name, r] = queue.shift();
        await check(name, r);
      }
    };
    await Promise.all([1, 2, 3, 4].map(worker));
  }

  function update(event) {
    const r = rows.get(event.controller);
    if (!r) return;
    if (event.kind === "status") {
      setReachable(r, event.reachable, event.message);
      if (event.skew !== undefined) r.cells.skew.textContent = seconds(event.skew);
    } else if (event.kind === "sync") {
      setSync(r, event.at, event.status, event.drift);
    } else if (event.kind === "error") {
      fill(r.cells.error, el("span", {class: "error-text"}, event.text || ""), stamp(event.at));
    } else if (event.kind === "record") {
      fill(r.cells.archive, badge("ok", ARCHIVE_GOOD), stamp(event.at));
    }
  }

  ctx.onLeave(ctx.live.follow((event) => {
    update(event);
    summarise();
  }));
  load();
}

// A time under a badge; nothing when there is none.
function stamp(at) {
  return at === undefined || at === null || at === "" ? null : el("div", {class: "stamp"}, when(at));
}

// POST /api/v1/sync or /api/v1/archive; no names: every controller.
export async function startRun(ctx, what, names) {
  try {
    const answer = await api("POST", `/api/v1/${what}`, names.length ? {controllers: names} : {});
    const target = names.length ? names.join(", ") : "every controller";
    const text = `${what === "sync" ? "Sync" : "Archive"} run ${answer.run} started for ${target}.`;
    ctx.notice(what === "sync"
      ? el("span", {}, `${text} `, el("a", {href: ctx.link("sync", [String(answer.run)])}, "Follow it"))
      : text);
  } catch (e) {
    ctx.error(e);
  }
}
