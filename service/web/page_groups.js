// Groups: what each grants, a schedule on every controller of a site or on
// the controllers named, and who is in it; operators add, edit and remove
// them.

import {el, fill} from "./dom.js";
import {FormPlace, removeAfterAsking} from "./form.js";
import {groupForm, parseGrant} from "./group_form.js";

// "office@site:main" or "office@controllers:a,b" as people read it.
function grantText(text) {
  const grant = parseGrant(text);
  return grant.kind === "site" ? `${grant.schedule} on site ${grant.names.join(", ")}`
    : `${grant.schedule} on ${grant.names.join(", ")}`;
}

export function render(root, ctx) {
  const list = el("div", {id: "groups-list"}, el("p", {class: "loading"}, "Loading…"));
  const editor = new FormPlace(ctx, "group-editor", load);
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Groups"), el("span", {class: "spacer"}),
    ctx.canOperate && el("button", {type: "button", id: "group-new", onclick: () => edit(null)}, "New group")),
  editor.node, list);

  async function load() {
    const [groups, people] = await Promise.all([
      ctx.load("/api/v1/groups", {}, list), ctx.load("/api/v1/people", {limit: 500})]);
    if (!groups) return null;
    const members = new Map();
    for (const p of people?.people || []) {
      for (const g of p.groups || []) members.set(g, (members.get(g) || 0) + 1);
    }
    const all = groups.groups || [];
    const partial = people && people.total > (people.people || []).length;
    const titles = ["Group", "Grants", "People", ctx.canOperate ? "" : null].filter((t) => t !== null);
    fill(list, el("table", {id: "groups", class: "list"},
      el("thead", {}, el("tr", {}, titles.map((t) => el("th", {}, t)))),
      el("tbody", {}, all.map((g) => el("tr", {dataset: {group: g.name}},
        el("td", {class: "name"}, g.name),
        el("td", {}, (g.grants || []).length ? g.grants.map((t) => el("div", {}, grantText(t)))
          : el("span", {class: "none"}, "nothing")),
        el("td", {class: "number"}, `${members.get(g.name) || 0}${partial ? "+" : ""}`),
        ctx.canOperate && el("td", {class: "actions"},
          el("button", {type: "button", class: "small", dataset: {test: "edit-group"}, onclick: () => edit(g)},
            "Edit"),
          el("button", {type: "button", class: "small", dataset: {test: "remove-group"}, onclick: () => remove(g)},
            "Remove")))),
      all.length ? null : el("tr", {}, el("td", {colspan: titles.length, class: "empty"}, "No groups yet.")))));
    return all;
  }

  // The service refuses while someone is in it, and names them.
  async function remove(group) {
    if (await removeAfterAsking(ctx, `Remove the group ${group.name}?`,
      `/api/v1/groups/${encodeURIComponent(group.name)}`, group.revision)) {
      await editor.done(`Group ${group.name} removed.`);
    }
  }

  // The form for one group as listed; null: a new group.
  async function edit(group) {
    const [schedules, sites, controllers] = await Promise.all([
      ctx.load("/api/v1/schedules"), ctx.load("/api/v1/sites"), ctx.load("/api/v1/controllers")]);
    if (!schedules || !sites || !controllers || !ctx.alive()) return;
    const names = (list, key) => (list[key] || []).map((v) => v.name);
    const choices = {schedules: names(schedules, "schedules"), sites: names(sites, "sites"),
      controllers: names(controllers, "controllers")};
    editor.open(groupForm(group, choices, {
      saved: (saved) => editor.done(`Group ${saved.name} saved.`),
      close: editor.close,
      reload: group && editor.again((all) => all.find((g) => g.name === group.name), edit),
    }));
  }

  load();
}
