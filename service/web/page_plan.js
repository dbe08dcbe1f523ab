// The plan: what the newest policy would change on each controller against
// what the controller was last verified to hold. Operators make a plan,
// read it, apply it after saying so in a dialog, and follow each
// controller's read-back as its sync result comes.

import {api, get} from "./api.js";
import {count, el, fill, when} from "./dom.js";

const SHOWN = 25;  // changes shown per controller until "Show all"
const OPEN_UP_TO = 5;  // a plan changing more controllers starts with their sections closed
const CONFIRMED = ["in_step", "repaired"];
const POLL_MS = 1000;
const KINDS = ["added", "removed", "changed"];

export function render(root, ctx) {
  const status = el("p", {class: "summary", dataset: {test: "policy-status"}});
  root.append(el("div", {class: "toolbar"}, el("h1", {}, "Plan")), status);
  showPolicyStatus(status, ctx);
  if (!ctx.canOperate) {
    root.append(el("p", {class: "note", dataset: {test: "plan-viewer-note"}},
      "Only operators make and apply plans. A plan shows what the newest policy (people, groups, schedules, " +
      "holidays) would change on each controller before anything is sent."));
    return;
  }
  const site = el("select", {id: "plan-site", "aria-label": "Site"}, el("option", {value: ""}, "All sites"));
  const make = el("button", {type: "button", id: "plan-make", class: "primary", onclick: () => makePlan()},
    "Make plan");
  const body = el("div", {id: "plan"}, el("p", {class: "hint"},
    "A plan compiles the newest policy for each controller and compares it with the list the controller " +
    "was last verified to hold. Nothing is sent until you apply it."));
  root.querySelector(".toolbar").append(el("label", {class: "filter"}, "Site", site), make);
  root.append(body);

  let following = null;  // stops following the shown plan's run
  const stopFollowing = () => {
    if (following) following();
    following = null;
  };
  ctx.onLeave(stopFollowing);

  (async () => {
    const answer = await ctx.load("/api/v1/sites");
    for (const s of answer?.sites || []) site.append(el("option", {value: s.name}, s.name));
  })();

  // #/plan/ID: a plan made earlier (on the command line, say) as it was made.
  if (ctx.rest[0]) {
    (async () => {
      const plan = await ctx.load(`/api/v1/plans/${encodeURIComponent(ctx.rest[0])}`, {}, body);
      if (plan && ctx.alive()) showPlan(plan);
    })();
  }

  async function makePlan() {
    stopFollowing();
    make.disabled = true;
    fill(body, el("p", {class: "loading"}, "Making the plan…"));
    try {
      const plan = await api("POST", "/api/v1/plans", site.value ? {site: site.value} : {});
      if (ctx.alive()) showPlan(plan);
    } catch (e) {
      fill(body);
      ctx.error(e);
    } finally {
      make.disabled = false;
    }
  }

  function showPlan(plan) {
    ctx.error(null);
    const all = plan.controllers || [];
    const changing = all.filter((c) => (c.changes || []).length);
    const unchanged = all.filter((c) => !(c.changes || []).length);
    const totals = kindCounts(changing.flatMap((c) => c.changes));
    const cards = changing.reduce((sum, c) => sum + c.changes.length, 0);
    const outcome = el("div", {class: "plan-outcome", dataset: {test: "plan-outcome"}});
    const apply = changing.length ? el("button", {type: "button", id: "plan-apply", class: "primary",
      onclick: () => confirmApply()}, `Apply plan ${plan.plan}`) : null;
    const names = personNames(changing);
    const sections = new Map(changing.map((c) => [c.name, controllerSection(c, names, changing.length <= OPEN_UP_TO)]));

    fill(body,
      el("div", {class: "plan-head", dataset: {test: "plan", plan: String(plan.plan)}},
        el("div", {},
          el("h2", {}, `Plan ${plan.plan} of policy revision ${plan.revision}`),
          el("p", {class: "summary", dataset: {test: "plan-summary"}},
            changing.length
              ? `${count(changing.length)} of ${controllers(all.length)} change: ${cardCount(cards)} ` +
                `(${countsText(totals)}). Made ${when(plan.at)}.`
              : `Nothing would change on ${controllers(all.length)}: each holds what the newest policy ` +
                `gives it. Made ${when(plan.at)}.`)),
        el("span", {class: "spacer"}),
        apply),
      outcome,
      [...sections.values()].map((s) => s.node),
      unchanged.length && changing.length ? el("p", {class: "unchanged", dataset: {test: "plan-unchanged"}},
        `${controllers(unchanged.length)} unchanged: ${unchanged.map((c) => c.name).join(", ")}`) : null);

    function confirmApply() {
      const dialog = el("dialog", {class: "confirm", id: "plan-confirm"},
        el("h2", {}, `Apply plan ${plan.plan}?`),
        el("p", {}, `It makes ${cardCount(cards)} on ${controllers(changing.length)} (${countsText(totals)}).`),
        el("p", {class: "detail"}, "Each of them gets its whole list downloaded and read back."),
        el("div", {class: "buttons"},
          el("button", {type: "button", id: "plan-confirm-cancel", onclick: () => dialog.close()}, "Cancel"),
          el("button", {type: "button", id: "plan-confirm-apply", class: "primary", onclick: () => {
            dialog.close();
            applyPlan();
          }}, `Apply to ${controllers(changing.length)}`)));
      dialog.addEventListener("close", () => dialog.remove());
      root.append(dialog);
      dialog.showModal();
      dialog.querySelector("#plan-confirm-cancel").focus();
    }

    async function applyPlan() {
      apply.disabled = true;
      fill(outcome, el("p", {class: "loading"}, "Applying…"));
      let answer;
      try {
        answer = await api("POST", `/api/v1/plans/${encodeURIComponent(plan.plan)}/apply`);
      } catch (e) {
        if (!ctx.alive()) return;
        if (e.status === 409) return refused(e.message);
        fill(outcome);
        apply.disabled = false;
        ctx.error(e);
        return;
      }
      if (!ctx.alive()) return;
      apply.remove();
      showPolicyStatus(status, ctx);
      if (!answer.run) {
        fill(outcome, el("p", {class: "notice-text", dataset: {test: "apply-summary"}},
          answer.waiting ? `Plan ${plan.plan} is applied; the next sync sends it (${answer.waiting}).`
            : `Plan ${plan.plan} is applied; there was nothing to send.`));
        return;
      }
      following = follow(answer.run);
    }

    // The service refused the plan: it no longer shows what applying would do.
    function refused(message) {
      apply.remove();
      for (const s of sections.values()) s.node.classList.add("stale");
      fill(outcome, el("div", {class: "refusal", dataset: {test: "plan-refused"}},
        el("p", {}, `Plan ${plan.plan} was not applied: `, el("span", {dataset: {test: "refusal-text"}}, message)),
        el("button", {type: "button", id: "plan-remake", class: "primary", onclick: () => makePlan()},
          "Make a new plan")));
    }

    // Each changing controller's result in the run, from the events as
    // they come and from the run itself each second, until all are in.
    function follow(run) {
      const waiting = new Set(sections.keys());
      const progress = el("p", {class: "summary", dataset: {test: "apply-summary"}});
      let failed = 0;
      fill(outcome, progress, el("p", {class: "detail"}, "Sent by ",
        el("a", {href: ctx.link("sync", [String(run)])}, `sync run #${run}`), "."));
      for (const s of sections.values()) s.setStatus(null);
      const report = () => {
        const done = sections.size - waiting.size;
        progress.textContent = waiting.size
          ? `Applied: ${count(done - failed)} of ${controllers(sections.size)} confirmed by read-back so far` +
            `${failed ? `, ${count(failed)} failed` : ""}; waiting for ${count(waiting.size)}…`
          : failed
            ? `Applied: ${count(done - failed)} of ${controllers(sections.size)} confirmed by read-back, ` +
              `${count(failed)} failed (see below).`
            : `Applied: all ${controllers(sections.size)} confirmed by read-back.`;
        progress.classList.toggle("bad-text", !waiting.size && failed > 0);
        progress.classList.toggle("good-text", !waiting.size && failed === 0);
      };
      const result = (name, status, message) => {
        if (!waiting.delete(name)) return;
        if (!CONFIRMED.includes(status)) failed += 1;
        sections.get(name).setStatus(status, message);
        report();
        if (!waiting.size) stop();
      };
      const poll = async () => {
        try {
          const answer = await get(`/api/v1/sync/runs/${encodeURIComponent(run)}`);
          for (const r of answer.results || []) result(r.name, r.status, r.message);
        } catch (e) {
          ctx.error(e);
        }
      };
      const unfollow = ctx.live.follow((event) => {
        if (event.kind !== "sync" || String(event.run) !== String(run)) return;
        result(event.controller, event.status, event.message);
      });
      const timer = setInterval(poll, POLL_MS);
      const stop = () => {
        clearInterval(timer);
        unfollow();
      };
      report();
      poll();
      return stop;
    }
  }
}

// Whether every controller was sent the newest policy: the reason to make
// a plan, before anyone makes one.
async function showPolicyStatus(node, ctx) {
  const answer = await ctx.load("/api/v1/policy/revision");
  if (!answer || !ctx.alive()) return;
  const behind = answer.behind || [];
  const all = Object.keys(answer.applied || {}).length;
  node.textContent = behind.length
    ? `Policy revision ${answer.revision} is not yet applied on ${count(behind.length)} of ` +
      `${controllers(all)}: ${behind.slice(0, 10).join(", ")}${behind.length > 10 ? ", …" : ""}.`
    : `Every controller was sent the newest policy, revision ${answer.revision}.`;
}

// One controller's changes: a line with its counts (and, once applied, its
// result) that opens onto the table of its changes.
function controllerSection(controller, names, open) {
  const changes = controller.changes;
  const status = el("span", {class: "apply-status", dataset: {test: "apply-status"}});
  const rows = el("tbody", {});
  const more = el("div", {class: "more"});
  const show = (n) => {
    fill(rows, changes.slice(0, n).map((change) => changeRow(change, names.get(change.person))));
    fill(more, n < changes.length
      ? el("button", {type: "button", class: "small", dataset: {test: "show-all"}, onclick: () => {
        show(changes.length);
        wrap.classList.add("scroll");
      }}, `Show all ${count(changes.length)} changes`)
      : null);
  };
  const wrap = el("div", {class: "changes"},
    el("table", {class: "list plan-changes"},
      el("thead", {}, el("tr", {}, ["Card", "Person", "Change", "Reasons"].map((t) =>
        el("th", {class: `column-${t.toLowerCase()}`}, t)))),
      rows));
  show(SHOWN);
  const verified = controller.verified;
  const node = el("details", {class: "plan-controller", open, dataset: {controller: controller.name}},
    el("summary", {},
      el("span", {class: "name"}, controller.name),
      el("span", {class: "site"}, `site ${controller.site ?? ""}`),
      verified
        ? el("span", {class: "verified", title: `verified at policy revision ${verified.revision}`},
          `verified ${when(verified.at)}`)
        : el("span", {class: "badge none", dataset: {test: "never-verified"},
          title: "every card it must hold is shown as added"}, "never verified"),
      el("span", {class: "counts", dataset: {test: "counts"}}, KINDS.map((k) => {
        const n = kindCounts(changes)[k];
        return el("span", {class: `count ${n ? k : "zero"}`, dataset: {kind: k}}, `${count(n)} ${k}`);
      })),
      status),
    wrap,
    more);
  return {
    node,
    // null: sent, no result yet.
    setStatus(text, message) {
      status.dataset.status = text ?? "";
      if (text === null) {
        fill(status, el("span", {class: "badge none"}, "sending…"));
      } else if (CONFIRMED.includes(text)) {
        fill(status, el("span", {class: "badge good", title: text.replace(/_/g, " ")}, "confirmed by read-back"));
      } else {
        fill(status, el("span", {class: "badge bad"}, String(text).replace(/_/g, " ")),
          message ? el("span", {class: "error-text"}, ` ${message}`) : null);
      }
    },
  };
}

function changeRow(change, name) {
  const label = name ? `${change.person} ${name}` : change.person;
  // The reasons name this person first, and the person column says who
  // already; what is left of "e1 Ada: added" is about the person.
  const reasons = (change.reasons || []).map((r) => {
    if (!label || !r.startsWith(`${label}: `)) return r;
    const rest = r.slice(label.length + 2);
    return rest === "added" || rest === "removed" ? `person ${rest}` : rest;
  });
  return el("tr", {dataset: {card: change.card, kind: change.kind}},
    el("td", {class: "mono"}, change.card),
    el("td", {dataset: {test: "person"}}, change.person
      ? [el("span", {class: "mono"}, change.person), name ? ` ${name}` : null]
      : el("span", {class: "none"}, "card row")),
    el("td", {}, el("span", {class: `badge change-${change.kind}`}, change.kind),
      (change.fields || []).length ? el("div", {class: "detail"}, fieldsText(change.fields)) : null),
    el("td", {class: "reasons", dataset: {test: "reasons"}}, reasons.map((r) => el("div", {}, r))));
}

// The plan names a person by id, and the reasons about a person name them
// as "id name: ..."; a person is named wherever any reason of theirs is.
function personNames(controllers) {
  const names = new Map();
  for (const change of controllers.flatMap((c) => c.changes)) {
    if (!change.person || names.has(change.person)) continue;
    const prefix = `${change.person} `;
    const labelled = (change.reasons || []).find((r) => r.startsWith(prefix) && r.indexOf(": ") > prefix.length);
    const name = change.name || (labelled && labelled.slice(prefix.length, labelled.indexOf(": ")));
    if (name) names.set(change.person, name);
  }
  return names;
}

// The card's fields that change; the seven days' times as one.
function fieldsText(fields) {
  const days = ["sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"];
  if (!days.every((d) => fields.includes(d))) return fields.join(", ");
  return ["times of every day", ...fields.filter((f) => !days.includes(f))].join(", ");
}

function kindCounts(changes) {
  const counts = {added: 0, removed: 0, changed: 0};
  for (const c of changes) counts[c.kind] = (counts[c.kind] || 0) + 1;
  return counts;
}

function countsText(counts) {
  return KINDS.map((k) => `${count(counts[k])} ${k}`).join(", ");
}

function controllers(n) {
  return `${count(n)} ${n === 1 ? "controller" : "controllers"}`;
}

function cardCount(n) {
  return `${count(n)} ${n === 1 ? "card change" : "card changes"}`;
}
