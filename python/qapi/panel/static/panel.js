// The operator panel's page: one WebSocket to the panel, the whole state on
// (re)connecting, then the changes.  Everything the call server said is put
// into the page as text (textContent), never as markup.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);
  const PAD = ["1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "0", "#"];
  const SILENT_MS = 6000;              // no word from the panel this long: it is gone
  const lampButtons = new Map();       // extension -> its button
  let ws = null, online = false, heard = 0, retryMs = 500, nextId = 1;
  let station = null, lampNames = {};
  const labels = new Map();            // command id -> what the notice calls it

  function el(tag, text, attributes) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    for (const [name, value] of Object.entries(attributes || {})) e.setAttribute(name, value);
    return e;
  }

  function allowed(op) {
    return online && station !== null && station.allowed[op] === true;
  }

  function notice(text, refused) {
    const n = $("notice");
    n.textContent = text;
    n.className = refused ? "refused" : "";
  }

  function send(command, label) {
    if (!ws || ws.readyState !== WebSocket.OPEN) {
      notice(label + ": the panel is unreachable", true);
      return;
    }
    command.id = nextId++;
    labels.set(command.id, label);
    ws.send(JSON.stringify(command));
  }

  // The own station.
  function renderStation(s) {
    station = s;
    $("reg").textContent = s.reg;
    $("status-text").textContent = s.status_text || "";
    $("call-state").textContent = s.call_state_name + (s.alerting ? " (alerting)" : "");
    const down = $("station-down");
    down.hidden = s.reg === "registered";
    if (s.station_id !== null && s.station_id !== -1) $("station-title").textContent = String(s.station_id);
    const who = "Station " + $("station-title").textContent;
    down.textContent = s.reg === "failed"
      ? who + " is unreachable: " + (s.status_text || "the call server does not answer")
      : who + " is not registered yet: waiting for the call server" + (s.status_text ? " (" + s.status_text + ")" : "");
    $("lamps").classList.toggle("stale", s.reg !== "registered");
    enableAll();
  }

  function enableAll() {
    for (const b of document.querySelectorAll("#operations button")) b.disabled = !allowed(b.dataset.op);
    for (const b of document.querySelectorAll("#pad button")) b.disabled = !online;
    for (const b of lampButtons.values()) enableLamp(b);
    for (const b of document.querySelectorAll("#park button")) b.disabled = !allowed("resume") || b.dataset.key === "";
    for (const b of document.querySelectorAll("#routes button")) b.disabled = !online;
    document.body.classList.toggle("offline", !online);
  }

  function renderCalls(calls) {
    $("calls").replaceChildren(...calls.map((call) => {
      const li = el("li", undefined, { title: call.line });
      for (const name of ["number", "first", "second", "state"]) li.append(el("span", call[name], { class: name }));
      return li;
    }));
  }

  // Lamps.
  function lampName(status) {
    return lampNames[status] || "status " + status;
  }

  function enableLamp(b) {
    const s = Number(b.dataset.status);
    b.disabled = !allowed("pickup") || (s !== 2 && s !== 3);
    b.title = s === 2 ? "Pick up" : s === 3 ? "Intrude" : "";
  }

  function setLamp(b, status) {
    b.dataset.status = status;
    b.lastChild.textContent = lampName(status);
    enableLamp(b);
  }

  function buildLamps(order, lamps) {
    lampButtons.clear();
    const buttons = order.map((extension) => {
      const b = el("button", undefined, { class: "lamp", "data-ext": extension });
      b.append(el("b", String(extension)), el("span"));
      b.addEventListener("click", () => {
        const ringing = b.dataset.status === "2";
        send({ op: ringing ? "bdp_answer" : "bdp_intrude", extension: extension },
             (ringing ? "Pick up " : "Intrude ") + extension);
      });
      lampButtons.set(String(extension), b);
      setLamp(b, lamps[extension]);
      return b;
    });
    $("lamps").replaceChildren(...buttons);
  }

  function updateLamps(lamps) {
    for (const [extension, status] of Object.entries(lamps)) {
      const b = lampButtons.get(extension);
      if (b) setLamp(b, status);
    }
  }

  // Parked calls, route questions, call records.
  function renderPark(entries) {
    $("park-empty").hidden = entries.length > 0;
    $("park").replaceChildren(...entries.map((entry) => {
      const li = el("li", entry.line);
      const b = el("button", "Resume", { "data-key": entry.key === null ? "" : entry.key });
      b.addEventListener("click", () => send({ op: "resume", key: entry.key }, "Resume " + entry.line));
      li.append(b);
      return li;
    }));
    enableAll();
  }

  function renderRoutes(routes) {
    $("routes").replaceChildren(...routes.map((r) => {
      const li = el("li", r.a + " → " + r.b);
      const b = el("button", "Route to number", { "data-handle": r.handle });
      b.addEventListener("click", () => send({ op: "route", handle: r.handle, digits: $("dial-number").value },
                                             "Route " + r.a));
      li.append(b);
      return li;
    }));
    enableAll();
  }

  function renderRecords(records) {
    $("records").replaceChildren(...records.slice().reverse().map((r) => {
      const tr = el("tr");
      for (const v of [r.when, r.kind, String(r.duration), r.a, r.b, r.c, r.text]) tr.append(el("td", v));
      return tr;
    }));
  }

  function renderService(section, id, value) {
    $(section).hidden = value === null;
    if (value !== null) $(id).textContent = value.address + ": " + value.state + (value.text ? " (" + value.text + ")" : "");
  }

  const SECTIONS = {
    station: renderStation,
    display: (text) => { $("display").textContent = text; },
    number: (text) => { $("number").textContent = text; },
    calls: renderCalls,
    park: renderPark,
    routes: renderRoutes,
    records: renderRecords,
    feed: (value) => renderService("records-section", "feed-state", value),
    link: (value) => renderService("routes-section", "link-state", value),
    lamps: updateLamps,
  };

  function receive(message) {
    if (message.type === "state") {
      lampNames = message.lamp_names;
      $("station-title").textContent = String(message.station_number);
      online = true;
      buildLamps(message.order, message.lamps);
      $("connection").textContent = "connected";
      $("connection").className = "";
    }
    if (message.type === "state" || message.type === "update") {
      for (const [name, render] of Object.entries(SECTIONS)) {
        if (name in message && !(message.type === "state" && name === "lamps")) render(message[name]);
      }
      enableAll();
    } else if (message.type === "result") {
      const label = labels.get(message.id) || "";
      labels.delete(message.id);
      notice(message.text || label, !message.ok);
    }
  }

  // The connection, and finding the panel again.
  function offline(why) {
    online = false;
    $("connection").textContent = why;
    $("connection").className = "down";
    enableAll();
  }

  function drop(socket, why) {
    socket.onclose = socket.onmessage = socket.onerror = null;
    socket.close();
    if (ws === socket) ws = null;
    offline(why);
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  }

  function connect() {
    const socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
    ws = socket;
    heard = Date.now();
    socket.onopen = () => { retryMs = 500; };
    socket.onmessage = (e) => { heard = Date.now(); receive(JSON.parse(e.data)); };
    socket.onclose = () => drop(socket, "panel unreachable: reconnecting…");
  }

  setInterval(() => {
    if (ws && ws.readyState === WebSocket.OPEN && Date.now() - heard > SILENT_MS) drop(ws, "panel silent: reconnecting…");
  }, 1000);

  // The controls.
  for (const key of PAD) {
    const b = el("button", key, { "data-key": key });
    b.addEventListener("click", () => {
      if (allowed("digits")) send({ op: "digits", digits: key }, "Dial " + key);
      else $("dial-number").value += key;
    });
    $("pad").append(b);
  }
  for (const b of document.querySelectorAll("#operations button")) {
    b.addEventListener("click", () => {
      const command = { op: b.dataset.op };
      const number = $("dial-number").value;
      if (b.dataset.text || (b.dataset.op === "newcall" && number !== "")) command.digits = number;
      send(command, b.textContent);
    });
  }
  enableAll();
  connect();
})();
