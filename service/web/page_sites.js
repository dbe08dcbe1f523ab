// Sites: each with the time zone whose local time its controllers keep,
// the local time there now, its holidays and the controllers that belong
// to it; operators add, change and remove sites, and add and remove their
// holidays.

import {api} from "./api.js";
import {el, fill, zoned} from "./dom.js";
import {FormPlace, check, editForm, field, removeAfterAsking} from "./form.js";

export function render(root, ctx) {
  const list = el("div", {id: "sites-list"}, el("p", {class: "loading"}, "Loading…"));
  const editor = new FormPlace(ctx, "site-editor", load);
  root.append(
    el("div", {class: "toolbar"},
      el("h1", {}, "Sites"),
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "site-new", onclick: () => edit(null)}, "New site")),
    editor.node,
    list);

  async function load() {
    const [sites, controllers, holidays] = await Promise.all([
      ctx.load("/api/v1/sites", {}, list), ctx.load("/api/v1/controllers"), ctx.load("/api/v1/holidays")]);
    if (!sites) return null;
    const days = new Map();
    for (const h of holidays?.holidays || []) {
      if (!days.has(h.site)) days.set(h.site, []);
      days.get(h.site).push(h);
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
    return all;
  }

  function row(site, controllers, holidays) {
    const unserved = controllers.filter((c) => c.served === false).length;
    return el("tr", {dataset: {site: site.name}},
      el("td", {class: "name"}, site.name),
      el("td", {class: "mono", dataset: {test: "zone"}}, site.zone),
      el("td", {class: "mono nowrap", dataset: {test: "local-now"}}, zoned(new Date(), site.zone) || "—"),
      el("td", {}, site.description || el("span", {class: "none"}, "—")),
      el("td", {class: "mono", dataset: {test: "holidays"}},
        holidays.length ? holidays.map((h) => el("div", {class: "holiday", dataset: {holiday: h.date}}, holidayText(h),
          ctx.canOperate && el("button", {type: "button", class: "small inline", title: "Remove this holiday",
            "aria-label": `Remove the holiday ${holidayText(h)}`,
            dataset: {test: "remove-holiday"}, onclick: () => removeHoliday(h)}, "×")))
          : el("span", {class: "none"}, "none")),
      el("td", {dataset: {test: "site-controllers"}},
        controllers.length ? controllers.map((c) => c.name).join(", ") : el("span", {class: "none"}, "none"),
        unserved ? el("div", {}, el("span", {class: "badge bad"}, `${unserved} unserved`)) : null),
      ctx.canOperate && el("td", {class: "actions"},
        el("button", {type: "button", class: "small", dataset: {test: "edit-site"}, onclick: () => edit(site)},
          "Edit"),
        el("button", {type: "button", class: "small", dataset: {test: "add-holiday"},
          onclick: () => addHoliday(site)}, "Add holiday"),
        el("button", {type: "button", class: "small", dataset: {test: "remove-site"},
          onclick: () => remove(site.name)}, "Remove")));
  }

  async function remove(name) {
    // The service refuses while controllers belong to it, and names them.
    if (await removeAfterAsking(ctx, `Remove the site ${name}?`, `/api/v1/sites/${encodeURIComponent(name)}`)) {
      await editor.done(`Site ${name} removed.`);
    }
  }

  async function removeHoliday(holiday) {
    const path = `/api/v1/holidays/${encodeURIComponent(holiday.site)}/${encodeURIComponent(holiday.date)}`;
    const named = `${holidayText(holiday)} of ${holiday.site}`;
    if (await removeAfterAsking(ctx, `Remove the holiday ${named}?`, path, holiday.revision)) {
      await editor.done(`Holiday ${named} removed.`);
    }
  }

  // The form for one site; null: a new site.
  function edit(site) {
    const fresh = site === null;
    const name = el("input", {id: "site-field-name", value: site?.name ?? "", readOnly: !fresh, required: true,
      maxlength: 32, pattern: "[A-Za-z0-9._-]{1,32}"});
    const zone = el("input", {id: "site-field-zone", value: site?.zone ?? "", required: true, list: "site-zones",
      placeholder: "Europe/Berlin", spellcheck: "false"});
    const description = el("input", {id: "site-field-description", value: site?.description ?? "",
      maxlength: 200});
    const named = () => (fresh ? name.value.trim() : site.name);
    editor.open(editForm("site", {
      title: fresh ? "New site" : `Site ${site.name}`,
      fields: [el("div", {class: "fields"},
        field("Name", name), field("Time zone (IANA)", zone), field("Description", description)), zoneChoices()],
      send: () => {
        const body = {zone: zone.value.trim(), description: description.value.trim()};
        return fresh ? api("POST", "/api/v1/sites", {name: named(), ...body})
          : api("PUT", `/api/v1/sites/${encodeURIComponent(site.name)}`, body);
      },
      saved: () => editor.done(`Site ${named()} saved.`),
      close: editor.close,
    }));
  }

  // The form for a new holiday of a site: a day, or a day of every year.
  function addHoliday(site) {
    const date = el("input", {type: "date", id: "holiday-field-date", required: true});
    const yearly = check("Every year on this day", {id: "holiday-field-yearly"});
    editor.open(editForm("holiday", {
      title: `New holiday of ${site.name}`,
      fields: el("div", {class: "fields"}, field("Date", date), yearly),
      send: () => api("POST", "/api/v1/holidays",
        {site: site.name, date: date.value, yearly: yearly.querySelector("input").checked}),
      saved: (holiday) => editor.done(`Holiday ${holidayText(holiday)} of ${site.name} saved.`),
      close: editor.close,
    }));
  }

  load();
}

function holidayText(holiday) {
  return holiday.yearly ? `${holiday.date.slice(5)} yearly` : holiday.date;
}

// The zones the browser knows, to choose from; the service checks the name
// against its own zone database.
function zoneChoices() {
  const zones = typeof Intl.supportedValuesOf === "function" ? Intl.supportedValuesOf("timeZone") : [];
  return el("datalist", {id: "site-zones"}, zones.map((z) => el("option", {value: z})));
}
