// Cards: searched and paged by the server (the list may hold many
// thousands); operators edit a card, or add one, in a form.

import {api} from "./api.js";
import {el, fill, pager, searchBox} from "./dom.js";
import {FormPlace, editForm, field, listed} from "./form.js";

const LIMIT = 50;
const DAYS = ["sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"];
const LISTS = ["extra_cards", "controllers"];

export function render(root, ctx) {
  const search = ctx.params.get("search") || "";
  const offset = Math.max(0, Number(ctx.params.get("offset")) || 0);
  const input = searchBox(ctx, "cards", search,
    {id: "card-search", placeholder: "Card, serial or controller", "aria-label": "Search cards"});
  const list = el("div", {id: "cards-list"}, el("p", {class: "loading"}, "Loading…"));
  const editor = new FormPlace(ctx, "card-editor", load);
  root.append(
    el("div", {class: "toolbar"},
      el("h1", {}, "Cards"),
      input,
      el("span", {class: "spacer"}),
      ctx.canOperate && el("button", {type: "button", id: "card-new", onclick: () => edit(null)}, "New card")),
    editor.node,
    list);

  async function load() {
    const answer = await ctx.load("/api/v1/cards", {search, offset, limit: LIMIT}, list);
    if (!answer) return null;
    const cards = answer.cards || [];
    const total = answer.total ?? cards.length;
    const go = (o) => ctx.go("cards", [], {search, offset: o});
    const columns = ["Card", "Serial", "User style", "Open style", "Time ranges", "Extra cards", "Controllers"];
    if (ctx.canOperate) columns.push("");
    fill(list,
      el("table", {id: "cards", class: "list", dataset: {total: String(total)}},
        el("thead", {}, el("tr", {}, columns.map((t) => el("th", {}, t)))),
        el("tbody", {}, cards.map((card) => row(card)),
          cards.length ? null : el("tr", {}, el("td", {colspan: columns.length, class: "empty"},
            search ? "No card matches." : "No cards yet.")))),
      pager(offset, LIMIT, total, go));
    return cards;
  }

  function row(card) {
    const days = DAYS.filter((d) => card[d]).map((d) => `${d.slice(0, 3)} ${card[d]}`);
    return el("tr", {dataset: {card: card.card}},
      el("td", {class: "mono"}, card.card),
      el("td", {class: "mono"}, card.serial ?? ""),
      el("td", {}, String(card.user_style ?? "")),
      el("td", {}, String(card.open_style ?? "")),
      el("td", {class: "days"}, days.length ? days.map((d) => el("div", {}, d)) : "none"),
      el("td", {class: "mono"}, words(card.extra_cards)),
      el("td", {}, words(card.controllers) || "all"),
      ctx.canOperate && el("td", {}, el("button", {type: "button", class: "small", dataset: {test: "edit-card"},
        onclick: () => edit(card)}, "Edit")));
  }

  // The form for one card; null: a new card.
  function edit(card) {
    const fresh = card === null;
    const input = (name, label, value, props) => {
      const node = el("input", {name, id: `card-field-${name}`, value: value ?? "", ...props});
      return {name, input: node, node: field(label, node)};
    };
    const fields = [
      input("card", "Card (8 digits)", fresh ? "" : card.card, {readOnly: !fresh, required: true, pattern: "[0-9]{8}"}),
      input("serial", "Serial (6 digits)", card?.serial, {pattern: "[0-9]{6}"}),
      input("password", "Password (6 digits)", card?.password, {pattern: "[0-9]{6}"}),
      input("user_style", "User style (0, 1)", card?.user_style ?? 1, {type: "number", min: 0, max: 1}),
      input("open_style", "Open style (0, 1, 2)", card?.open_style ?? 2, {type: "number", min: 0, max: 2}),
      ...DAYS.map((d) => input(d, d[0].toUpperCase() + d.slice(1), card?.[d], {placeholder: "0800-1200-01;"})),
      input("extra_cards", "Extra cards", words(card?.extra_cards), {placeholder: "separated by spaces"}),
      input("controllers", "Controllers", words(card?.controllers), {placeholder: "empty: every controller"}),
    ];
    const body = {};
    editor.open(editForm("card", {
      title: fresh ? "New card" : `Card ${card.card}`,
      fields: el("div", {class: "fields"}, fields.map((f) => f.node)),
      send: () => {
        for (const f of fields) {
          const value = f.input.value.trim();
          if (LISTS.includes(f.name)) body[f.name] = listed(value);
          else if (f.name === "user_style" || f.name === "open_style") body[f.name] = Number(value);
          else body[f.name] = value;
        }
        return api("PUT", `/api/v1/cards/${encodeURIComponent(body.card)}`, body);
      },
      saved: () => editor.done(`Card ${body.card} saved.`),
      close: editor.close,
    }));
  }

  load();
}

function words(value) {
  if (Array.isArray(value)) return value.join(" ");
  return value ? String(value) : "";
}
