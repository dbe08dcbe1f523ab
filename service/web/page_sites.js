// Sites: each with the time zone whose local time its controllers keep,
// the local time there now, its holidays and the controllers that belong
// to it; operators add, change and remove them.

import {api} from "./api.js";
import {el, fill, zoned} from "./dom.js";

export function render(root, ctx) {
  const list = el("div", {id: "sites-list"}, el("p", {class: "loading"}, "Loading…"));
  const editor = el("div", {id: "site-editor"});
  root.append(
    el("div", {class: "toolbar"},
      el("h1", {}, "Sites"),
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "site-new", onclick: () => edit(null)}, "New site")),
    editor,
    list);

  async function load() {
    const [sites, controllers, holidays] = await Promise.all([
      ctx.load("/api/v1/sites", {}, list), ctx.load("/api/v1/controllers"), ctx.load("/api/v1/holidays")]);
    if (!sites) return;
    const days = new Map();
    for (const h of holidays?.holidays || []) {
      if (!days.has(h.site)) days.set(h.site, []);
      days.get(h.site).push(h.yearly ? `${h.date.slice(5)} yearly` : h.date);
    }
    const members = new Map();
    for (const c of controllers?.controllers || []) {
      if (!members.has(c.site)) members.set(c.site, []);
      members.get(c.site).push(c);
    }
    const titles = ["Site", "Time zone", "Local time now", "Description", "Holidays", "Controllers",
      ctx.canOperate ? "" : null];
    const all = sites.sites || [];
    fill(list, el("table", {id: "sites", class: "list"},
      el("thead", {}, el("tr", {}, titles.filter((t) => t !== null).map((t) => el("th", {}, t)))),
      el("tbody", {}, all.map((site) => row(site, members.get(site.name) || [], days.get(site.name) || [])),
        all.length ? null : el("tr", {}, el("td", {colspan: titles.length, class: "empty"}, "No sites.")))));
  }

  function row(site, controllers, holidays) {
    const unserved = controllers.filter((c) => c.served === false).length;
    return el("tr", {dataset: {site: site.name}},
      el("td", {class: "name"}, site.name),
      el("td", {class: "mono", dataset: {test: "zone"}}, site.zone),
      el("td", {class: "mono nowrap", dataset: {test: "local-now"}}, zoned(new Date(), site.zone) || "—"),
      el("td", {}, site.description || el("span", {class: "none"}, "—")),
      el("td", {class: "mono", dataset: {test: "holidays"}},
        holidays.length ? holidays.map((h) => el("div", {}, h)) : el("span", {class: "none"}, "none")),
      el("td", {dataset: {test: "site-controllers"}},
        controllers.length ? controllers.map((c) => c.name).join(", ") : el("span", {class: "none"}, "none"),
        unserved ? el("div", {}, el("span", {class: "badge bad"}, `${unserved} unserved`)) : null),
      ctx.canOperate && el("td", {class: "actions"},
        el("button", {type: "button", class: "small", dataset: {test: "edit-site"}, onclick: () => edit(site)},
          "Edit"),
        el("button", {type: "button", class: "small", dataset: {test: "remove-site"},
          onclick: () => remove(site.name)}, "Remove")));
  }

  async function remove(name) {
    if (!window.confirm(`Remove the site ${name}?`)) return;
    try {
      await api("DELETE", `/api/v1/sites/${encodeURIComponent(name)}`);
    } catch (e) {
      ctx.error(e);  // the service names the controllers that still belong to it
      return;
    }
    await load();
    ctx.notice(`Site ${name} removed.`);
  }

  // The form for one site; null: a new site.
  function edit(site) {
    ctx.notice("");
    const fresh = site === null;
    const name = el("input", {id: "site-field-name", value: site?.name ?? "", readOnly: !fresh, required: true,
      maxlength: 32, pattern: "[A-Za-z0-9._-]{1,32}"});
    const zone = el("input", {id: "site-field-zone", value: site?.zone ?? "", required: true, list: "site-zones",
      placeholder: "Europe/Berlin", spellcheck: "false"});
    const description = el("input", {id: "site-field-description", value: site?.description ?? "",
      maxlength: 200});
    const problem = el("p", {class: "form-error", dataset: {test: "site-error"}, hidden: true});
    const save = async (event) => {
      event.preventDefault();
      const body = {zone: zone.value.trim(), description: description.value.trim()};
      try {
        if (fresh) await api("POST", "/api/v1/sites", {name: name.value.trim(), ...body});
        else await api("PUT", `/api/v1/sites/${encodeURIComponent(site.name)}`, body);
      } catch (e) {
        problem.textContent = e.message;
        problem.hidden = false;
        return;
      }
      fill(editor);
      await load();
      ctx.notice(`Site ${fresh ? name.value.trim() : site.name} saved.`);
    };
    const field = (label, input) => el("label", {}, el("span", {}, label), input);
    fill(editor, el("form", {id: "site-form", class: "card-form", onsubmit: save},
      el("h2", {}, fresh ? "New site" : `Site ${site.name}`),
      el("div", {class: "fields"},
        field("Name", name), field("Time zone (IANA)", zone), field("Description", description)),
      zoneChoices(),
      problem,
      el("div", {class: "buttons"},
        el("button", {type: "submit", id: "site-save"}, "Save"),
        el("button", {type: "button", id: "site-cancel", onclick: () => fill(editor)}, "Cancel"))));
    (fresh ? name : zone).focus();
  }

  load();
}

// The zones the browser knows, to choose from; the service checks the name
// against its own zone database.
function zoneChoices() {
  const zones = typeof Intl.supportedValuesOf === "function" ? Intl.supportedValuesOf("timeZone") : [];
  return el("datalist", {id: "site-zones"}, zones.map((z) => el("option", {value: z})));
}
