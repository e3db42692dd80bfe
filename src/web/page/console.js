// The web console's page: logs in, shows the users and the console live (Server-Sent
// Events), and sends the operator's commands to the API. Every text from the server goes
// into the page as text, never as markup.
"use strict";

(() => {
  const $ = (id) => document.getElementById(id);
  const CONSOLE_LINES = 1000;
  const AFS_VALUES = [0, 5, 10, 15, 20, 25, 30, 35, 40];

  const state = {
    csrf: sessionStorage.getItem("orvchat-csrf") || "",
    users: new Map(), // mac -> user, in the server's order
    texts: {},
    status: null,
    statusAt: 0,
    sortKey: "",
    sortDown: false,
    filter: "",
    events: null,
    drawPending: false,
  };

  // --- Talking to the API -------------------------------------------------------------

  class ApiError extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;
    }
  }

  async function api(method, path, body) {
    const headers = {};
    if (method !== "GET") headers["X-CSRF-Token"] = state.csrf;
    if (body !== undefined) headers["Content-Type"] = "application/json";
    const response = await fetch(path, {
      method,
      headers,
      credentials: "same-origin",
      cache: "no-store",
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    if (!response.ok) {
      const message = (data && data.error) || `${response.status} ${response.statusText}`;
      if (response.status === 401 && path !== "/api/login") showLogin("The session ended: log in again.");
      throw new ApiError(response.status, message);
    }
    return data;
  }

  // An action from the page: its outcome (or why not) shows briefly at the bottom.
  async function act(method, path, body) {
    try {
      const result = await api(method, path, body);
      const lines = (result && result.lines) || [];
      toast(lines.length ? lines.join("\n") : "Done.", false);
      return result;
    } catch (error) {
      if (error.status !== 401) toast(error.message, true);
      return null;
    }
  }

  let toastTimer = 0;
  function toast(text, bad) {
    const box = $("toast");
    box.textContent = text;
    box.classList.toggle("bad", !!bad);
    box.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => (box.hidden = true), bad ? 6000 : 3500);
  }

  // --- Logging in and out ---------------------------------------------------------------

  function showLogin(message) {
    stopEvents();
    state.csrf = "";
    sessionStorage.removeItem("orvchat-csrf");
    $("app").hidden = true;
    $("login").hidden = false;
    $("login-error").textContent = message || "";
    $("password").value = "";
    $("password").focus();
  }

  async function logIn(event) {
    event.preventDefault();
    const button = $("login-button");
    button.disabled = true;
    $("login-error").textContent = "";
    try {
      const result = await api("POST", "/api/login", { password: $("password").value });
      state.csrf = result.csrf;
      sessionStorage.setItem("orvchat-csrf", state.csrf);
      $("password").value = "";
      await showApp();
    } catch (error) {
      $("login-error").textContent = error.message;
      $("password").select();
    } finally {
      button.disabled = false;
    }
  }

  async function logOut() {
    try {
      await api("POST", "/api/logout");
    } catch (e) {
      // The session may be over already.
    }
    showLogin("Logged out.");
  }

  async function showApp() {
    $("login").hidden = true;
    $("app").hidden = false;
    await Promise.all([loadStatus(), loadUsers(), loadBlocks()]);
    startEvents();
  }

  // --- Status ---------------------------------------------------------------------------

  async function loadStatus() {
    const status = await api("GET", "/api/status");
    state.texts = status.texts || {};
    applyTexts();
    showStatus(status);
  }

  function applyTexts() {
    const t = state.texts;
    if (t.serverName) {
      $("server-name").textContent = t.serverName;
      document.title = `${t.serverName} - ORV Chat Server`;
    }
    if (t.nameColumn) $("h-name").textContent = t.nameColumn;
    if (t.addressColumn) $("h-address").textContent = t.addressColumn;
    if (t.blockColumn) $("h-block").textContent = t.blockColumn;
  }

  function showStatus(status) {
    state.status = status;
    state.statusAt = Date.now();
    drawStatus();
    // A count that differs from the list means an event was missed: the list is fetched.
    if (status.users !== state.users.size) loadUsersSoon();
  }

  function uptimeText(seconds) {
    const d = Math.floor(seconds / 86400);
    const h = Math.floor((seconds % 86400) / 3600);
    const m = Math.floor((seconds % 3600) / 60);
    if (d > 0) return `${d} d ${h} h`;
    if (h > 0) return `${h} h ${m} min`;
    return `${m} min ${Math.floor(seconds % 60)} s`;
  }

  function drawStatus() {
    const s = state.status;
    if (!s) return;
    const where = (s.clientAddresses && s.clientAddresses.length ? s.clientAddresses.join(", ") : s.address || "0.0.0.0") + ":" + s.port;
    const listening = s.listening ? `Listening on ${where}` : `Not listening on ${where}: ${s.notListeningReason || "not started"}`;
    const up = s.uptimeSeconds + Math.floor((Date.now() - state.statusAt) / 1000);
    $("status-text").textContent = `${listening} · ${s.users} online · ${s.connections} connections · up ${uptimeText(up)} · ${s.version}`;
  }

  // --- Users ----------------------------------------------------------------------------

  let usersTimer = 0;
  function loadUsersSoon() {
    clearTimeout(usersTimer);
    usersTimer = setTimeout(() => loadUsers().catch(() => {}), 500);
  }

  async function loadUsers() {
    const rows = await api("GET", "/api/users");
    state.users = new Map(rows.map((row) => [row.mac, row]));
    drawUsersSoon();
  }

  function drawUsersSoon() {
    if (state.drawPending) return;
    state.drawPending = true;
    requestAnimationFrame(() => {
      state.drawPending = false;
      drawUsers();
    });
  }

  function afsText(user) {
    // In brackets: the user has no value of its own and FloodStopper applies.
    if (user.afs === null || user.afs === undefined) return `(${state.texts.floodStopper ?? ""})`;
    return user.afs === 0 ? state.texts.off || "off" : String(user.afs);
  }

  function visibleUsers() {
    const filter = state.filter.toLowerCase();
    let users = [...state.users.values()];
    if (filter) {
      users = users.filter((u) => [u.name, u.mac, u.ip, u.address].some((v) => (v || "").toLowerCase().includes(filter)));
    }
    if (state.sortKey) {
      const key = state.sortKey;
      // Names as people read them: "b2" before "b10", letter case aside.
      const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
      users.sort((a, b) => {
        const order = key === "afs" ? (a.afs ?? -1) - (b.afs ?? -1) : collator.compare(a[key] || "", b[key] || "");
        return state.sortDown ? -order : order;
      });
    }
    return users;
  }

  function cell(row, text, className) {
    const td = document.createElement("td");
    td.className = className;
    td.textContent = text;
    row.appendChild(td);
    return td;
  }

  function drawUsers() {
    const users = visibleUsers();
    const body = document.createElement("tbody");
    for (const user of users) {
      const row = document.createElement("tr");
      row.dataset.mac = user.mac;
      if (user.block) row.classList.add("blocked");
      cell(row, user.mac, "c-mac");
      cell(row, user.name || "n/a", "c-name");
      cell(row, user.ip, "c-ip");
      cell(row, user.address, "c-address");
      cell(row, user.block, "c-block");
      const afs = cell(row, afsText(user), "c-afs");
      if (user.afs === null) afs.classList.add("afs-default");
      const menuCell = cell(row, "", "c-menu");
      const button = document.createElement("button");
      button.type = "button";
      button.className = "row-menu";
      button.textContent = "⋯";
      button.title = "Actions";
      button.setAttribute("aria-label", `Actions for ${user.name || user.mac}`);
      menuCell.appendChild(button);
      body.appendChild(row);
    }
    const table = $("users");
    table.replaceChild(body, table.tBodies[0]);
    const total = state.users.size;
    $("user-count").textContent = users.length === total ? `(${total})` : `(${users.length} of ${total})`;
    $("no-users").hidden = total !== 0;
    for (const th of table.tHead.rows[0].cells) {
      th.classList.toggle("sorted-up", th.dataset.key === state.sortKey && !state.sortDown);
      th.classList.toggle("sorted-down", th.dataset.key === state.sortKey && state.sortDown);
    }
  }

  function sortBy(key) {
    // A third click goes back to the server's order, as in the window.
    if (state.sortKey !== key) {
      state.sortKey = key;
      state.sortDown = false;
    } else if (!state.sortDown) {
      state.sortDown = true;
    } else {
      state.sortKey = "";
    }
    drawUsers();
  }

  // --- The row menu: the window's context menu ------------------------------------------

  function userPath(mac, action) {
    return `/api/users/${encodeURIComponent(mac)}/${action}`;
  }

  function menuItem(menu, text, onChoose, className) {
    const item = document.createElement("button");
    item.type = "button";
    item.className = "item" + (className ? " " + className : "");
    item.setAttribute("role", "menuitem");
    item.textContent = text;
    item.addEventListener("click", () => {
      closeMenu();
      onChoose();
    });
    menu.appendChild(item);
    return item;
  }

  function openMenu(mac, x, y) {
    const user = state.users.get(mac);
    if (!user) return;
    const t = state.texts;
    const menu = $("menu");
    menu.replaceChildren();
    const title = document.createElement("div");
    title.className = "title";
    title.textContent = `${t.afs || "AFS"} ${t.afsFor || "for"} ${user.name || "n/a"}`;
    menu.appendChild(title);
    const afs = document.createElement("div");
    afs.className = "afs";
    for (const value of AFS_VALUES) {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = value === 0 ? `0 ${user.afs === 0 ? t.off || "off" : t.afsSwitchOff || "(switch off)"}` : String(value);
      const current = user.afs === null ? t.floodStopper : user.afs;
      if (value === current) button.classList.add("checked");
      button.addEventListener("click", () => {
        closeMenu();
        act("POST", userPath(mac, "afs"), { value });
      });
      afs.appendChild(button);
    }
    menu.appendChild(afs);
    menu.appendChild(document.createElement("hr"));
    menuItem(menu, t.kick || "Kick", () => act("POST", userPath(mac, "kick")), "danger");
    menu.appendChild(document.createElement("hr"));
    const block = (by) => () => act("POST", userPath(mac, "block"), { by });
    const unblock = () => act("POST", userPath(mac, "unblock"));
    switch (user.block) {
      case "":
        menuItem(menu, t.blockByIp || "Block by IP", block("ip"));
        menuItem(menu, t.blockByMac || "Block by MAC", block("mac"));
        menuItem(menu, t.blockByName || "Block by name", block("name"));
        menuItem(menu, "Block connection address", block("address"));
        break;
      case "MAC":
        menuItem(menu, t.unblockByMac || "Unblock by MAC", unblock);
        break;
      case "NAME":
        menuItem(menu, t.unblockByName || "Unblock by name", unblock);
        break;
      case "address":
        menuItem(menu, "Unblock connection address", unblock);
        break;
      default:
        menuItem(menu, t.unblockByIp || "Unblock by IP", unblock);
    }
    menu.hidden = false;
    const width = menu.offsetWidth;
    const height = menu.offsetHeight;
    menu.style.left = `${Math.max(4, Math.min(x, window.innerWidth - width - 4))}px`;
    menu.style.top = `${Math.max(4, Math.min(y, window.innerHeight - height - 4))}px`;
    const first = menu.querySelector("button.item");
    if (first) first.focus();
  }

  function closeMenu() {
    $("menu").hidden = true;
  }

  // --- Stored blocks --------------------------------------------------------------------

  async function loadBlocks() {
    const blocks = await api("GET", "/api/blocks");
    const body = document.createElement("tbody");
    for (const entry of blocks) {
      const row = document.createElement("tr");
      cell(row, entry.key, "c-mac");
      cell(row, entry.looksLike, "");
      cell(row, entry.refusing.join(", "), "");
      const actions = cell(row, "", "c-menu");
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = "Unblock";
      button.addEventListener("click", async () => {
        if (await act("POST", "/api/blocks/unblock", { key: entry.key })) loadBlocks().catch(() => {});
      });
      actions.appendChild(button);
      body.appendChild(row);
    }
    const table = $("blocks");
    table.replaceChild(body, table.tBodies[0]);
    $("block-count").textContent = `(${blocks.length})`;
    $("no-blocks").hidden = blocks.length !== 0;
  }

  // --- The console and the live events --------------------------------------------------

  function addConsoleLine(text) {
    const box = $("console");
    const atBottom = box.scrollTop + box.clientHeight >= box.scrollHeight - 8;
    const line = document.createElement("div");
    line.className = "line";
    if (text.includes("Web console")) line.classList.add("web");
    if (text.includes("Warning")) line.classList.add("warn");
    line.textContent = text;
    box.appendChild(line);
    while (box.childElementCount > CONSOLE_LINES) box.firstElementChild.remove();
    if (atBottom) box.scrollTop = box.scrollHeight;
  }

  function setLive(live) {
    const badge = $("live");
    badge.textContent = live ? "live" : "reconnecting";
    badge.classList.toggle("off", !live);
  }

  function stopEvents() {
    if (state.events) state.events.close();
    state.events = null;
    setLive(false);
  }

  function startEvents() {
    stopEvents();
    const events = new EventSource("/api/events");
    state.events = events;
    const data = (event) => JSON.parse(event.data);
    events.addEventListener("open", () => {
      // The stream begins with the console's last lines: what was shown goes.
      $("console").replaceChildren();
      setLive(true);
      if (state.users.size || state.status) {
        loadUsers().catch(() => {});
        loadBlocks().catch(() => {});
      }
    });
    events.addEventListener("error", () => {
      setLive(false);
      // The browser gave up (the server answered no stream: restarted, or the session is
      // over): ask again a little later; a 401 there brings the login back.
      if (events.readyState === EventSource.CLOSED && state.events === events) {
        setTimeout(() => {
          if (state.events !== events) return;
          loadStatus().then(startEvents, () => {});
        }, 1000);
      }
    });
    events.addEventListener("console", (event) => {
      const text = data(event).text;
      addConsoleLine(text);
      if (/block|Block/.test(text)) loadBlocksSoon();
    });
    events.addEventListener("cleared", () => $("console").replaceChildren());
    const upsert = (event) => {
      const user = data(event);
      state.users.set(user.mac, user);
      drawUsersSoon();
    };
    events.addEventListener("joined", upsert);
    events.addEventListener("changed", upsert);
    events.addEventListener("left", (event) => {
      state.users.delete(data(event).mac);
      drawUsersSoon();
    });
    events.addEventListener("status", (event) => showStatus(data(event)));
    events.addEventListener("expired", () => showLogin("The session ended: log in again."));
    events.addEventListener("dropped", () => {
      // The page fell behind: a fresh stream and a fresh list.
      stopEvents();
      setTimeout(() => showApp().catch(() => {}), 1000);
    });
    events.addEventListener("stopping", () => {
      stopEvents();
      $("live").textContent = "server stopped";
    });
  }

  let blocksTimer = 0;
  function loadBlocksSoon() {
    clearTimeout(blocksTimer);
    blocksTimer = setTimeout(() => loadBlocks().catch(() => {}), 400);
  }

  // --- Wiring ---------------------------------------------------------------------------

  function wire() {
    $("login-form").addEventListener("submit", logIn);
    $("logout").addEventListener("click", logOut);
    $("reload").addEventListener("click", () => act("POST", "/api/reload"));
    $("filter").addEventListener("input", (event) => {
      state.filter = event.target.value;
      drawUsers();
    });
    for (const th of $("users").tHead.rows[0].cells) {
      if (th.dataset.key) th.addEventListener("click", () => sortBy(th.dataset.key));
    }
    const users = $("users");
    users.addEventListener("click", (event) => {
      const button = event.target.closest("button.row-menu");
      if (!button) return;
      const rect = button.getBoundingClientRect();
      openMenu(button.closest("tr").dataset.mac, rect.right - 220, rect.bottom + 2);
      event.stopPropagation();
    });
    users.addEventListener("contextmenu", (event) => {
      const row = event.target.closest("tbody tr");
      if (!row) return;
      event.preventDefault();
      openMenu(row.dataset.mac, event.clientX, event.clientY);
    });
    document.addEventListener("click", (event) => {
      if (!$("menu").contains(event.target)) closeMenu();
    });
    document.addEventListener("keydown", (event) => {
      if (event.key === "Escape") closeMenu();
    });
    $("send-form").addEventListener("submit", async (event) => {
      event.preventDefault();
      const input = $("message");
      if (await act("POST", "/api/send", { text: input.value })) input.value = "";
    });
    setInterval(drawStatus, 1000);
  }

  async function start() {
    wire();
    if (!state.csrf) {
      showLogin("");
      return;
    }
    try {
      await showApp();
    } catch (error) {
      if (error.status !== 401) showLogin(error.message);
    }
  }

  document.addEventListener("DOMContentLoaded", start);
})();
