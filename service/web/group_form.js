// The form of a group: its name (when added) and its grants, each a
// schedule on every controller of a site or on the controllers chosen.

import {api} from "./api.js";
import {el} from "./dom.js";
import {editForm, field} from "./form.js";

// The schedules every policy has besides those it keeps.
const BUILT_IN = ["always", "never"];

// "office@site:main" → {schedule: "office", kind: "site", names: ["main"]}.
export function parseGrant(text) {
  const [schedule, where] = text.split("@");
  const [kind, names] = (where || "").split(":");
  return {schedule, kind, names: (names || "").split(",").filter(Boolean)};
}

// group: as the service answers it, or null for a new group; choices:
// {schedules, sites, controllers} (names); on: {saved(group), close, reload}.
export function groupForm(group, choices, on) {
  const fresh = group === null;
  const name = fresh ? el("input", {id: "group-field-name", required: true, maxlength: 32, spellcheck: "false"})
    : null;
  const rows = [];
  const body = el("div", {class: "grants", id: "group-field-grants"});
  const add = (grant) => {
    const row = grantRow(grant, choices, () => {
      rows.splice(rows.indexOf(row), 1);
      row.node.remove();
    });
    rows.push(row);
    body.append(row.node);
    return row;
  };
  for (const text of group?.grants || []) add(parseGrant(text));
  const grants = () => rows.map((r) => r.text());
  return editForm("group", {
    title: fresh ? "New group" : `Group ${group.name}`,
    fields: [
      fresh ? el("div", {class: "fields"}, field("Name", name)) : null,
      el("fieldset", {class: "choices"}, el("legend", {}, "Grants: a schedule, on a site or on controllers"),
        body,
        el("button", {type: "button", class: "small", id: "group-add-grant", onclick: () => add(null).focus()},
          "Add grant"))],
    send: () => (fresh ? api("POST", "/api/v1/groups", {name: name.value.trim(), grants: grants()})
      : api("PUT", `/api/v1/groups/${encodeURIComponent(group.name)}`,
        {grants: grants(), revision: group.revision})),
    ...on,
  });
}

// One grant: its schedule, where (a site or controllers) and which.
function grantRow(grant, choices, remove) {
  const options = (names, chosen) => [...new Set([...names, ...chosen])].map((n) =>
    el("option", {value: n, selected: chosen.includes(n)}, n));
  const given = grant || {schedule: BUILT_IN[0], kind: "site", names: choices.sites.slice(0, 1)};
  const schedule = el("select", {"aria-label": "Schedule", dataset: {test: "grant-schedule"}},
    options([...BUILT_IN, ...choices.schedules], [given.schedule]));
  const kind = el("select", {"aria-label": "Where", dataset: {test: "grant-kind"}},
    el("option", {value: "site", selected: given.kind === "site"}, "on site"),
    el("option", {value: "controllers", selected: given.kind === "controllers"}, "on controllers"));
  const site = el("select", {"aria-label": "Site", dataset: {test: "grant-site"}},
    options(choices.sites, given.kind === "site" ? given.names : []));
  const controllers = el("select", {multiple: true, "aria-label": "Controllers", dataset: {test: "grant-controllers"},
    size: Math.min(6, Math.max(2, choices.controllers.length))},
  options(choices.controllers, given.kind === "controllers" ? given.names : []));
  const show = () => {
    site.hidden = kind.value !== "site";
    controllers.hidden = kind.value === "site";
  };
  kind.addEventListener("change", show);
  show();
  return {
    node: el("div", {class: "grant", dataset: {test: "grant"}}, schedule, kind, site, controllers,
      el("button", {type: "button", class: "small", dataset: {test: "remove-grant"}, onclick: remove}, "Remove")),
    focus: () => schedule.focus(),
    text: () => {
      const names = kind.value === "site" ? [site.value] : [...controllers.selectedOptions].map((o) => o.value);
      return `${schedule.value}@${kind.value}:${names.join(",")}`;
    },
  };
}
