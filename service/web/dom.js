// Building the page from server data: every text goes in through
// textContent or attributes, never as markup.

// el("td", {class: "x", dataset: {test: "y"}, style: {left: "5%"}, onclick: f}, "text", node, ...)
export function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === "dataset") Object.assign(node.dataset, value);
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (key === "class") node.className = value;
    // Through the style object: the page's policy refuses style attributes.
    else if (key === "style") Object.assign(node.style, value);
    else if (key in node && typeof value !== "string") node[key] = value;
    else node.setAttribute(key, value === true ? "" : String(value));
  }
  append(node, children);
  return node;
}

function append(node, children) {
  for (const child of children) {
    if (child === undefined || child === null || child === false) continue;
    if (Array.isArray(child)) append(node, child);
    else node.append(child instanceof Node ? child : String(child));
  }
}

// Replaces the node's children (texts, nodes, arrays of them; null skipped).
export function fill(node, ...children) {
  node.replaceChildren();
  append(node, children);
  return node;
}

// A table of rows: columns [{title, cell(item) → text or node}].
export function table(columns, items, props) {
  return el("table", props,
    el("thead", {}, el("tr", {}, columns.map((c) => el("th", {class: /number/.test(c.class) ? "number" : null}, c.title)))),
    el("tbody", {}, items.map((item) => el("tr", {}, columns.map((c) => el("td", {class: c.class}, c.cell(item)))))));
}

// A time the server gives as ms since the epoch or as an ISO 8601 text.
export function when(value) {
  if (value === undefined || value === null || value === "") return "—";
  const date = new Date(typeof value === "number" ? value : Date.parse(value));
  if (Number.isNaN(date.getTime())) return String(value);
  const pad = (n) => String(n).padStart(2, "0");
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ` +
    `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}`;
}

// A record's time as the service keeps it, yyyymmddhhmmss, made readable.
export function recordTime(text) {
  const m = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})$/.exec(String(text ?? ""));
  return m ? `${m[1]}-${m[2]}-${m[3]} ${m[4]}:${m[5]}:${m[6]}` : String(text ?? "");
}

// A moment as "2026-12-09 14:05 CET" (with seconds when asked) in an IANA
// zone; null for a zone the browser does not know.
export function zoned(date, zone, withSeconds) {
  try {
    const parts = Object.fromEntries(new Intl.DateTimeFormat("en-GB", {timeZone: zone, year: "numeric",
      month: "2-digit", day: "2-digit", hour: "2-digit", minute: "2-digit",
      second: withSeconds ? "2-digit" : undefined, hourCycle: "h23", timeZoneName: "short"})
      .formatToParts(date).map((p) => [p.type, p.value]));
    const time = `${parts.hour}:${parts.minute}${withSeconds ? `:${parts.second}` : ""}`;
    return `${parts.year}-${parts.month}-${parts.day} ${time} ${parts.timeZoneName}`;
  } catch (e) {
    return null;
  }
}

// Only the zone's short name at a moment ("CET", "GMT+1"); "" when unknown.
export function zoneName(date, zone) {
  const shown = zoned(date, zone);
  return shown ? shown.slice(shown.lastIndexOf(" ") + 1) : "";
}

export function seconds(value) {
  if (value === undefined || value === null) return "—";
  const sign = value > 0 ? "+" : "";
  return `${sign}${value} s`;
}

export function count(n) {
  return Number(n || 0).toLocaleString("en");
}

// A status word as a coloured badge ("in_step" → "in step").
export function badge(status, good) {
  if (status === undefined || status === null || status === "") return el("span", {class: "badge none"}, "never");
  const kind = good.includes(status) ? "good" : "bad";
  return el("span", {class: `badge ${kind}`}, String(status).replace(/_/g, " "));
}

// Previous / next over a list the server pages: "1–50 of 5,000".
export function pager(offset, limit, total, go) {
  const first = total === 0 ? 0 : offset + 1;
  const last = Math.min(offset + limit, total);
  return el("div", {class: "pager", dataset: {test: "pager"}},
    el("button", {type: "button", dataset: {test: "previous"}, disabled: offset <= 0,
      onclick: () => go(Math.max(0, offset - limit))}, "‹ Previous"),
    el("span", {dataset: {test: "range"}}, `${count(first)}–${count(last)} of ${count(total)}`),
    el("button", {type: "button", dataset: {test: "next"}, disabled: last >= total,
      onclick: () => go(offset + limit)}, "Next ›"));
}

// A search box for a page whose list the server searches: typing goes to
// the page's first page with the search after a pause; a search shown
// keeps the focus, the caret at its end.
export function searchBox(ctx, page, search, props) {
  const input = el("input", {type: "search", value: search, ...props});
  let typing = null;
  input.addEventListener("input", () => {
    clearTimeout(typing);
    typing = setTimeout(() => ctx.go(page, [], {search: input.value.trim()}), 300);
  });
  ctx.onLeave(() => clearTimeout(typing));
  if (search) {
    queueMicrotask(() => {
      input.focus();
      input.setSelectionRange(search.length, search.length);
    });
  }
  return input;
}
