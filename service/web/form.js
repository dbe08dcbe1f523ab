// The forms that add or change a value the service keeps (a person, a
// group, a schedule, a holiday, a site, a card): labelled fields, Save and
// Cancel, and a refusal shown in the service's own words with the input
// kept as typed. Removals ask first and name the revision they were shown.

import {api} from "./api.js";
import {el, fill} from "./dom.js";

// The refusals after which loading the value afresh can help: it changed
// or went meanwhile, or the input no longer fits what is saved.
const RELOADABLE = [400, 404, 409];

// A label over its input (or inputs).
export function field(label, ...inputs) {
  return el("label", {}, el("span", {}, label), ...inputs);
}

// A checkbox with its label beside it.
export function check(label, props) {
  return el("label", {class: "check"}, el("input", {type: "checkbox", ...props}), ` ${label}`);
}

// The form of one value. prefix names its parts: #PREFIX-form,
// #PREFIX-save, #PREFIX-cancel, #PREFIX-reload and [data-test=PREFIX-error].
//   fields: the nodes between the title and the refusal;
//   send(): the request, resolving to the service's answer;
//   saved(answer): after the service took it;
//   close(): Cancel;
//   reload(): for a change, loading the value afresh (the input dropped).
export function editForm(prefix, {title, fields, send, saved, close, reload}) {
  const message = el("span", {dataset: {test: `${prefix}-error-text`}});
  const again = reload
    ? el("button", {type: "button", class: "small", id: `${prefix}-reload`, hidden: true, onclick: reload},
      "Reload it (drops your input)")
    : null;
  const problem = el("div", {class: "form-error", role: "alert", dataset: {test: `${prefix}-error`}, hidden: true},
    message, again);
  const save = el("button", {type: "submit", id: `${prefix}-save`}, "Save");
  const submit = async (event) => {
    event.preventDefault();
    save.disabled = true;
    let answer;
    try {
      answer = await send();
    } catch (e) {
      message.textContent = e.message;
      if (again) again.hidden = !RELOADABLE.includes(e.status);
      problem.hidden = false;
      return;
    } finally {
      save.disabled = false;
    }
    await saved(answer);
  };
  return el("form", {id: `${prefix}-form`, class: "edit-form", onsubmit: submit},
    el("h2", {}, title),
    fields,
    problem,
    el("div", {class: "buttons"},
      save,
      el("button", {type: "button", id: `${prefix}-cancel`, onclick: close}, "Cancel")));
}

// The place above a page's list where its forms open. load: the page's
// loading of what it shows, resolving to what it loaded (null: nothing).
export class FormPlace {
  constructor(ctx, id, load) {
    this.ctx = ctx;
    this.load = load;
    this.node = el("div", {id});
    this.close = () => fill(this.node);
  }

  // Shows the form, the focus in its first field that may be typed in.
  open(form) {
    this.ctx.notice("");
    fill(this.node, form);
    form.querySelector("input:not([readonly]):not([type=checkbox]), select")?.focus();
  }

  // After a save or removal: the form closes, the page loads afresh and
  // says what was done; resolves to what was loaded.
  async done(notice) {
    this.close();
    const loaded = await this.load();
    this.ctx.notice(notice);
    return loaded;
  }

  // A change's reload: the page loaded afresh, then edit(pick(loaded))
  // opens the form again on the value as saved now, if it is still there.
  again(pick, edit) {
    return async () => {
      const loaded = await this.done("");
      const now = loaded && pick(loaded);
      if (now) edit(now);
    };
  }
}

// Asks, then DELETE path (with ?revision= when given); true once removed,
// false when not asked to or refused (the refusal shown as the page's error).
export async function removeAfterAsking(ctx, question, path, revision) {
  if (!window.confirm(question)) return false;
  const query = revision === undefined ? "" : `?revision=${encodeURIComponent(revision)}`;
  try {
    await api("DELETE", `${path}${query}`);
  } catch (e) {
    ctx.error(e);
    return false;
  }
  return true;
}

// The texts of a field that lists them apart by commas or blanks.
export function listed(text) {
  return text.split(/[\s,]+/).filter(Boolean);
}
