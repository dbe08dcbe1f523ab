// Groups: what each grants, a schedule on every controller of a site or on
// the controllers named, and who is in it.

import {el, fill} from "./dom.js";

// "office@site:main" or "office@controllers:a,b" as people read it.
function grantText(grant) {
  const [schedule, where] = grant.split("@");
  const [kind, names] = (where || "").split(":");
  return kind === "site" ? `${schedule} on site ${names}` : `${schedule} on ${(names || "").split(",").join(", ")}`;
}

export function render(root, ctx) {
  const list = el("div", {id: "groups-list"}, el("p", {class: "loading"}, "Loading…"));
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Groups")), list);
  (async () => {
    const [groups, people] = await Promise.all([
      ctx.load("/api/v1/groups", {}, list), ctx.load("/api/v1/people", {limit: 500})]);
    if (!groups) return;
    const members = new Map();
    for (const p of people?.people || []) {
      for (const g of p.groups || []) members.set(g, (members.get(g) || 0) + 1);
    }
    const all = groups.groups || [];
    const partial = people && people.total > (people.people || []).length;
    fill(list, el("table", {id: "groups", class: "list"},
      el("thead", {}, el("tr", {}, ["Group", "Grants", "People"].map((t) => el("th", {}, t)))),
      el("tbody", {}, all.map((g) => el("tr", {dataset: {group: g.name}},
        el("td", {class: "name"}, g.name),
        el("td", {}, (g.grants || []).length ? g.grants.map((t) => el("div", {}, grantText(t)))
          : el("span", {class: "none"}, "nothing")),
        el("td", {class: "number"}, `${members.get(g.name) || 0}${partial ? "+" : ""}`))),
      all.length ? null : el("tr", {}, el("td", {colspan: 3, class: "empty"}, "No groups yet.")))));
  })();
}
