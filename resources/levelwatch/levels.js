"use strict";
// Reads the meter list, then each meter's levels, once a second.
const box = document.getElementById("meters");

function text(node, name) {
  const element = node.getElementsByTagName(name)[0];
  return element ? element.textContent : "";
}

async function fetchXml(path) {
  const response = await fetch(path, { cache: "no-store" });
  if (!response.ok) return null;
  return new DOMParser().parseFromString(await response.text(), "application/xml");
}

async function refresh() {
  const list = await fetchXml("/splinstruments").catch(() => null);
  if (!list) { box.textContent = "KORU does not answer."; return; }
  const names = Array.from(list.getElementsByTagName("instrument")).map(n => n.textContent);
  if (names.length === 0) { box.textContent = "No SPL meter is open in KORU."; return; }
  const cards = [];
  for (const name of names) {
    const doc = await fetchXml("/spl/" + encodeURIComponent(name)).catch(() => null);
    const card = document.createElement("div");
    card.className = "meter";
    const title = document.createElement("div");
    title.className = "name";
    title.textContent = name;
    const spl = document.createElement("div");
    spl.className = "spl";
    const detail = document.createElement("div");
    detail.className = "detail";
    if (doc) {
      const unit = doc.getElementsByTagName("spl")[0]?.getAttribute("unit") || "";
      spl.textContent = text(doc, "spl") + " " + unit;
      detail.textContent = "AVG " + text(doc, "avg") + "  LEQ " + text(doc, "leq") + "  " +
        text(doc, "speed");
    } else {
      spl.textContent = "--.-";
    }
    card.append(title, spl, detail);
    cards.push(card);
  }
  box.replaceChildren(...cards);
}

refresh();
setInterval(refresh, 1000);
