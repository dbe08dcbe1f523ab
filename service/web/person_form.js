// The form of a person: id (when added), name, active, the dates they are
// valid between, their groups and their cards. A card's PIN is never
// shown (the service does not answer one): its field only sets a new
// one, and left empty keeps the PIN the card has.

import {api} from "./api.js";
import {el} from "./dom.js";
import {check, editForm, field} from "./form.js";

const DIGITS = {inputmode: "numeric", pattern: "[0-9]{6}", maxlength: 6, spellcheck: "false"};

// person: as the service answers it, or null for a new person; groups: the
// names of every group; on: {saved(person), close, reload}.
export function personForm(person, groups, on) {
  const fresh = person === null;
  const id = fresh ? el("input", {id: "person-field-id", required: true, maxlength: 64, spellcheck: "false"}) : null;
  const name = el("input", {id: "person-field-name", value: person?.name ?? "", required: true, maxlength: 200});
  const active = check("Active", {id: "person-field-active", checked: person?.active ?? true});
  const from = el("input", {type: "date", id: "person-field-valid-from", value: person?.valid_from ?? ""});
  const until = el("input", {type: "date", id: "person-field-valid-until", value: person?.valid_until ?? ""});
  const held = new Set(person?.groups || []);
  const choices = [...new Set([...groups, ...held])].map((g) =>
    check(g, {value: g, checked: held.has(g), dataset: {group: g}}));
  const cards = cardRows(person?.cards || []);

  const body = () => {
    const value = {
      name: name.value.trim(),
      active: active.querySelector("input").checked,
      valid_from: from.value || null,
      valid_until: until.value || null,
      groups: choices.map((c) => c.querySelector("input")).filter((i) => i.checked).map((i) => i.value),
      cards: cards.value(),
    };
    return fresh ? {id: id.value.trim(), ...value} : {...value, revision: person.revision};
  };
  return editForm("person", {
    title: fresh ? "New person" : `Edit ${person.name} (${person.id})`,
    fields: [
      el("div", {class: "fields"},
        fresh ? field("Id", id) : null, field("Name", name), field("Valid from", from), field("Valid until", until),
        active),
      el("fieldset", {class: "choices", id: "person-field-groups"}, el("legend", {}, "Groups"),
        choices.length ? choices : el("span", {class: "none"}, "No groups yet.")),
      cards.node],
    send: () => {
      const value = body();
      return fresh ? api("POST", "/api/v1/people", value)
        : api("PUT", `/api/v1/people/${encodeURIComponent(person.id)}`, value);
    },
    ...on,
  });
}

// The cards as rows to change: a card held keeps its number, and its PIN
// unless a new one is typed; a card added needs all three.
function cardRows(held) {
  const rows = [];
  const body = el("tbody", {});
  const add = (card) => {
    const number = el("input", {value: card?.card ?? "", readOnly: Boolean(card), required: true,
      "aria-label": "Card", dataset: {test: "card-number"}, inputmode: "numeric", pattern: "[0-9]{8}",
      maxlength: 8, spellcheck: "false"});
    const serial = el("input", {value: card?.serial ?? "", required: true, "aria-label": "Serial",
      dataset: {test: "card-serial"}, ...DIGITS});
    const pin = el("input", {type: "password", autocomplete: "new-password", required: !card, "aria-label": "PIN",
      placeholder: card ? "unchanged" : "6 digits", dataset: {test: "card-pin"}, ...DIGITS});
    const row = el("tr", {dataset: {card: card?.card ?? ""}},
      el("td", {}, number), el("td", {}, serial), el("td", {}, pin),
      el("td", {}, el("button", {type: "button", class: "small", dataset: {test: "remove-card"}, onclick: () => {
        rows.splice(rows.indexOf(entry), 1);
        row.remove();
      }}, "Remove")));
    const entry = {number, serial, pin};
    rows.push(entry);
    body.append(row);
    return number;
  };
  for (const card of held) add(card);
  return {
    node: el("fieldset", {class: "choices", id: "person-field-cards"}, el("legend", {}, "Cards"),
      el("table", {class: "list compact"},
        el("thead", {}, el("tr", {}, ["Card", "Serial", "PIN (never shown)", ""].map((t) => el("th", {}, t)))),
        body),
      el("button", {type: "button", class: "small", id: "person-add-card", onclick: () => add(null).focus()},
        "Add card")),
    // Without a PIN typed the service keeps the card's own.
    value: () => rows.map((r) => ({card: r.number.value.trim(), serial: r.serial.value.trim(),
      ...(r.pin.value ? {pin: r.pin.value} : {})})),
  };
}
