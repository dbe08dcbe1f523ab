// Schedules: each as a week, Sunday first, with its ranges drawn on a day
// from 00:00 to 24:00 and written beside it, and what it does on a
// holiday; the two every policy has (always, never) are not kept.
// Operators add, edit (the ranges of each day, and holidays) and remove
// them; the week shows what the service saved.

import {api} from "./api.js";
import {el, fill} from "./dom.js";
import {FormPlace, editForm, field, listed, removeAfterAsking} from "./form.js";

const DAYS = ["Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"];
const HOURS = [0, 6, 12, 18, 24];

function minutes(text) {
  const [h, m] = text.split(":").map(Number);
  return h * 60 + m;
}

// "07:00-19:00" as a bar over the day.
function segment(range) {
  const [from, to] = range.split("-").map(minutes);
  return el("span", {class: "range", title: range,
    style: {left: `${(from / 1440) * 100}%`, width: `${((to - from) / 1440) * 100}%`}});
}

function week(schedule) {
  return el("table", {class: "week", dataset: {schedule: schedule.name}},
    el("thead", {}, el("tr", {}, el("th", {}), el("th", {class: "hours"},
      HOURS.map((h) => el("span", {style: {left: `${(h / 24) * 100}%`}}, `${String(h).padStart(2, "0")}:00`))),
    el("th", {}))),
    el("tbody", {}, DAYS.map((day, i) => {
      const ranges = (schedule.days || [])[i] || [];
      return el("tr", {dataset: {day: day.toLowerCase()}},
        el("th", {}, day.slice(0, 3)),
        el("td", {class: "day"}, el("div", {class: "bar"}, ranges.map(segment))),
        el("td", {class: "mono ranges"}, ranges.length ? ranges.join(", ") : el("span", {class: "none"}, "closed")));
    })));
}

export function render(root, ctx) {
  const list = el("div", {id: "schedules"}, el("p", {class: "loading"}, "Loading…"));
  const editor = new FormPlace(ctx, "schedule-editor", load);
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Schedules"), el("span", {class: "spacer"}),
    ctx.canOperate && el("button", {type: "button", id: "schedule-new", onclick: () => edit(null)}, "New schedule")),
  editor.node, list);

  async function load() {
    const answer = await ctx.load("/api/v1/schedules", {}, list);
    if (!answer) return null;
    const schedules = answer.schedules || [];
    fill(list, schedules.length ? schedules.map((s) => el("section", {class: "schedule"},
      el("h2", {}, s.name, " ", el("span", {class: "detail"},
        s.holidays === "open" ? "open on holidays as on any day" : "closed on holidays"),
      ctx.canOperate && el("span", {class: "actions"},
        el("button", {type: "button", class: "small", dataset: {test: "edit-schedule"},
          onclick: () => edit(s)}, "Edit"),
        el("button", {type: "button", class: "small", dataset: {test: "remove-schedule"},
          onclick: () => remove(s)}, "Remove"))),
      week(s)))
      : el("p", {class: "empty"}, "No schedules yet: groups can grant always and never."));
    return schedules;
  }

  // The service refuses while a group grants it, and names the groups.
  async function remove(schedule) {
    if (await removeAfterAsking(ctx, `Remove the schedule ${schedule.name}?`,
      `/api/v1/schedules/${encodeURIComponent(schedule.name)}`, schedule.revision)) {
      await editor.done(`Schedule ${schedule.name} removed.`);
    }
  }

  // The form for one schedule as listed; null: a new schedule. A day's
  // ranges are typed as "07:00-12:00, 13:00-17:00".
  function edit(schedule) {
    const fresh = schedule === null;
    const name = fresh ? el("input", {id: "schedule-field-name", required: true, maxlength: 32, spellcheck: "false"})
      : null;
    const days = DAYS.map((day, i) => el("input", {id: `schedule-field-${day.toLowerCase()}`,
      value: ((schedule?.days || [])[i] || []).join(", "), placeholder: "closed", spellcheck: "false"}));
    const holidays = el("select", {id: "schedule-field-holidays"},
      el("option", {value: "closed"}, "closed on holidays"),
      el("option", {value: "open", selected: schedule?.holidays === "open"}, "open on holidays as on any day"));
    const value = () => ({days: days.map((d) => listed(d.value)), holidays: holidays.value});
    editor.open(editForm("schedule", {
      title: fresh ? "New schedule" : `Schedule ${schedule.name}`,
      fields: el("div", {class: "fields"}, fresh ? field("Name", name) : null,
        DAYS.map((day, i) => field(day, days[i])), field("Holidays", holidays)),
      send: () => (fresh ? api("POST", "/api/v1/schedules", {name: name.value.trim(), ...value()})
        : api("PUT", `/api/v1/schedules/${encodeURIComponent(schedule.name)}`,
          {...value(), revision: schedule.revision})),
      saved: (saved) => editor.done(`Schedule ${saved.name} saved.`),
      close: editor.close,
      reload: schedule && editor.again((all) => all.find((s) => s.name === schedule.name), edit),
    }));
  }

  load();
}
