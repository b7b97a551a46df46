'use strict';
// The keypad: a touch starting on a key sends "NAME,1", its end (or cancel,
// or the page hidden) sends "NAME,0", over one WebSocket. The first message
// is the key from the address's fragment, which never leaves the phone
// otherwise; the program answers "ok" when it takes it.
(function () {
  var KEY_REFUSED = 4001;
  var RETRY_MS = 2000;
  var status = document.getElementById('status');
  var key = location.hash.slice(1);
  var socket = null;
  var ready = false;
  var touching = {};  // pointer id -> button
  var held = {};      // key name -> pointers on it

  function show(text, state) {
    status.textContent = text;
    document.body.setAttribute('data-state', state);
  }

  function send(text) {
    if (ready) socket.send(text);
  }

  function press(button) {
    var name = button.getAttribute('data-key');
    held[name] = (held[name] || 0) + 1;
    button.classList.add('held');
    if (held[name] === 1) send(name + ',1');
  }

  function release(button) {
    var name = button.getAttribute('data-key');
    if (!held[name]) return;
    held[name] -= 1;
    if (held[name] > 0) return;
    delete held[name];
    button.classList.remove('held');
    send(name + ',0');
  }

  function releaseAll() {
    for (var id in touching) release(touching[id]);
    touching = {};
  }

  // The program has let go of everything this page held: forget it here too.
  function forgetAll() {
    touching = {};
    held = {};
    var down = document.querySelectorAll('button.held');
    for (var i = 0; i < down.length; i++) down[i].classList.remove('held');
  }

  function connect() {
    if (!/^[0-9a-fA-F]{32}$/.test(key)) {
      show('This address has no key: scan the code that Quorvix shows on the PC.', 'refused');
      return;
    }
    show('Connecting…', 'connecting');
    socket = new WebSocket('ws://' + location.host + '/keys');
    socket.onopen = function () { socket.send(key); };
    socket.onmessage = function (e) {
      if (e.data === 'ok' && !ready) {
        ready = true;
        show('Connected', 'connected');
      }
    };
    socket.onclose = function (e) {
      ready = false;
      forgetAll();
      if (e.code === KEY_REFUSED) {
        show('The key was not accepted: scan the code that Quorvix shows on the PC again.', 'refused');
        return;
      }
      show('Not connected: trying again…', 'lost');
      setTimeout(connect, RETRY_MS);
    };
  }

  var pad = document.getElementById('pad');
  pad.addEventListener('pointerdown', function (e) {
    var button = e.target.closest('[data-key]');
    if (!button || !ready) return;
    e.preventDefault();
    touching[e.pointerId] = button;
    press(button);
  });
  function up(e) {
    var button = touching[e.pointerId];
    if (!button) return;
    delete touching[e.pointerId];
    release(button);
  }
  window.addEventListener('pointerup', up);
  window.addEventListener('pointercancel', up);
  document.addEventListener('visibilitychange', function () { if (document.hidden) releaseAll(); });
  window.addEventListener('pagehide', releaseAll);
  window.addEventListener('blur', releaseAll);
  document.addEventListener('contextmenu', function (e) { e.preventDefault(); });
  // A double tap must not zoom (older Safari ignores user-scalable).
  document.addEventListener('dblclick', function (e) { e.preventDefault(); });
  window.addEventListener('hashchange', function () { location.reload(); });
  connect();
})();
