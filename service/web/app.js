// The page's shell: signing in and out, the pages behind the hash routes,
// the error banner and the live events every page can follow.

import {ApiError, PhotoSet, api, get, setToken, token, whenUnauthorised} from "./api.js";
import {EventStream} from "./stream.js";
import * as audit from "./page_audit.js";
import * as cards from "./page_cards.js";
import * as controllers from "./page_controllers.js";
import * as events from "./page_events.js";
import * as groups from "./page_groups.js";
import * as people from "./page_people.js";
import * as plan from "./page_plan.js";
import * as records from "./page_records.js";
import * as schedules from "./page_schedules.js";
import * as sites from "./page_sites.js";
import * as sync from "./page_sync.js";

const pages = {controllers, sites, people, groups, schedules, cards, plan, records, events, sync, audit};
const $ = (id) => document.getElementById(id);

// The newest events first, at most LIVE_KEPT of them, and who follows them.
const LIVE_KEPT = 500;
const LIVE_HISTORY = 50;  // the events before sign-in shown
const live = {
  events: [],
  listeners: new Set(),
  add(event) {
    if (typeof event.id === "number" && this.events.some((e) => e.id === event.id)) return;
    this.events.unshift(event);
    if (this.events.length > LIVE_KEPT) this.events.length = LIVE_KEPT;
    for (const listener of this.listeners) listener(event);
  },
  follow(listener) {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  },
};

let me = null;
let stream = null;
let current = null;  // {leave: [functions], photos: PhotoSet}

// text: a text or a node built with el().
function showBanner(id, text) {
  const banner = $(id);
  banner.replaceChildren(text || "");
  banner.hidden = !text;
}

function showError(error) {
  if (!error) return showBanner("error", "");
  showBanner("error", error instanceof ApiError && error.status ? `${error.message} (HTTP ${error.status})`
    : String(error.message || error));
}

function parseRoute() {
  const hash = location.hash.replace(/^#\/?/, "");
  const [path, query] = hash.split("?");
  const parts = path.split("/").filter(Boolean).map(decodeURIComponent);
  return {page: parts[0] || "controllers", rest: parts.slice(1), params: new URLSearchParams(query || "")};
}

function route(page, rest, params) {
  const path = [page, ...(rest || [])].map(encodeURIComponent).join("/");
  const query = new URLSearchParams();
  for (const [key, value] of Object.entries(params || {})) {
    if (value !== undefined && value !== null && value !== "") query.set(key, value);
  }
  const search = query.toString();
  return `#/${path}${search ? `?${search}` : ""}`;
}

function leavePage() {
  if (!current) return;
  const dialog = $("photo-dialog");
  if (dialog.open) dialog.close();
  for (const leave of current.leave) leave();
  current.photos.revoke();
  current = null;
}

function render() {
  if (!me) return;
  leavePage();
  showError(null);
  showBanner("notice", "");
  const {page, rest, params} = parseRoute();
  const module = pages[page] && (page !== "audit" || me.role === "admin") ? pages[page] : null;
  for (const link of document.querySelectorAll("#nav a")) {
    link.classList.toggle("current", link.dataset.page === page);
  }
  const root = document.createElement("section");
  root.className = "page";
  root.dataset.page = page;
  $("view").replaceChildren(root);
  if (!module) {
    root.textContent = "There is no such page.";
    return;
  }
  const mine = {leave: [], photos: new PhotoSet()};
  current = mine;
  const alive = () => current === mine;
  module.render(root, {
    me,
    canOperate: me.role === "operator" || me.role === "admin",
    isAdmin: me.role === "admin",
    rest,
    params,
    photos: mine.photos,
    live,
    link: route,
    go: (p, r, q) => { location.hash = route(p, r, q); },
    error: (e) => { if (alive()) showError(e); },
    // GET path?query; on failure shows the error, empties target and gives null.
    load: async (path, query, target) => {
      try {
        return await get(path, query);
      } catch (e) {
        if (target) target.replaceChildren();
        if (alive()) showError(e);
        return null;
      }
    },
    notice: (text) => { if (alive()) showBanner("notice", text); },
    onLeave: (f) => mine.leave.push(f),
    alive,
  });
}

function streamState(state, why) {
  const badge = $("stream-state");
  badge.hidden = state === "stopped";
  badge.dataset.state = state;
  badge.textContent = state === "live" ? "● live" : "○ connecting";
  badge.title = why || (state === "live" ? "Events arrive as they happen" : "");
}

// The newest event's id, 0 when there is none: every page of events says it.
async function newestEventId() {
  return (await get("/api/v1/events", {limit: 1})).last_id || 0;
}

// The stream starts with the newest events, then brings each as it comes.
async function startLive() {
  let newest = 0;
  try {
    newest = await newestEventId();
  } catch (e) {
    showError(e);
  }
  if (!me || stream) return;
  stream = new EventStream((event) => live.add(event), streamState);
  stream.start(Math.max(0, newest - LIVE_HISTORY));
}

function showSignIn(message) {
  me = null;
  leavePage();
  $("view").replaceChildren();
  $("nav").hidden = true;
  $("sign-out").hidden = true;
  $("who").textContent = "";
  $("sign-in").hidden = false;
  $("token").value = "";
  showError(message ? {message} : null);
  $("token").focus();
}

function signOut(message) {
  if (stream) stream.stop();
  stream = null;
  live.events.length = 0;
  setToken("");
  showSignIn(message);
}

async function signIn() {
  try {
    me = await api("GET", "/api/v1/me");
  } catch (e) {
    setToken("");
    showSignIn(e.status === 401 ? "The service did not accept this token." : e.message);
    return;
  }
  $("sign-in").hidden = true;
  $("nav").hidden = false;
  $("nav-audit").hidden = me.role !== "admin";
  $("sign-out").hidden = false;
  $("who").textContent = `${me.name} (${me.role})`;
  render();
  startLive();
}

whenUnauthorised(() => {
  if (me) signOut("The token is no longer accepted: sign in again.");
});

$("sign-in-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const text = $("token").value.trim();
  if (!text) return;
  setToken(text);
  signIn();
});
$("sign-out").addEventListener("click", () => signOut(""));
window.addEventListener("hashchange", render);

if (token()) signIn();
else showSignIn("");
