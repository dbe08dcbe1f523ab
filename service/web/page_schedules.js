// Schedules: each as a week, Sunday first, with its ranges drawn on a day
// from 00:00 to 24:00 and written beside it, and what it does on a
// holiday; the two every policy has (always, never) are not kept.

import {el, fill} from "./dom.js";

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
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Schedules")), list);
  (async () => {
    const answer = await ctx.load("/api/v1/schedules", {}, list);
    if (!answer) return;
    const schedules = answer.schedules || [];
    fill(list, schedules.length ? schedules.map((s) => el("section", {class: "schedule"},
      el("h2", {}, s.name, " ", el("span", {class: "detail"},
        s.holidays === "open" ? "open on holidays as on any day" : "closed on holidays")),
      week(s)))
      : el("p", {class: "empty"}, "No schedules yet: groups can grant always and never."));
  })();
}
