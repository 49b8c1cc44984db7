// The page of quorvel fleet: a tile per arm, most urgent first, fed by the fleet's event stream
// (its whole state on every change, and once a second). A tile opens that arm's own page,
// served by the same process. Everything that comes from the robots is inserted as text, never
// as markup.
(function () {
  'use strict';

  var SVG_NS = 'http://www.w3.org/2000/svg';
  var DASH = '\u2013';
  var SILENCE_MS = 5000;        // the stream sends once a second: longer means it is gone
  // Arms never heard from fold into one line when there are more than this many of them
  // (a range of domains watched, most of them empty).
  var UNKNOWN_TILES_MAX = 4;

  var token = new URLSearchParams(window.location.search).get('token') || '';
  var source = null;
  var lastMessage = 0;
  var everConnected = false;
  var tiles = {};               // arm index -> { key, node, eventMs }
  var logged = {};              // arm index -> what the log last said of it

  // For tests and measurements: when each arm's tile last changed, and to what.
  window.quorvelFleetLog = [];

  function $(id) { return document.getElementById(id); }

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) { node.className = className; }
    if (text !== undefined && text !== null) { node.textContent = String(text); }
    return node;
  }

  function svg(tag, attrs) {
    var node = document.createElementNS(SVG_NS, tag);
    Object.keys(attrs || {}).forEach(function (key) { node.setAttribute(key, attrs[key]); });
    return node;
  }

  function clear(node) { while (node.firstChild) { node.removeChild(node.firstChild); } }

  function isNum(v) { return typeof v === 'number' && isFinite(v); }

  function duration(ms) {
    if (!isNum(ms) || ms < 0) { return DASH; }
    var s = Math.floor(ms / 1000);
    if (s < 60) { return s + ' s'; }
    var m = Math.floor(s / 60);
    if (m < 60) { return m + ' min ' + (s % 60) + ' s'; }
    return Math.floor(m / 60) + ' h ' + (m % 60) + ' min';
  }

  function clock(ms) {
    var d = new Date(ms);
    function two(n) { return (n < 10 ? '0' : '') + n; }
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  function armLink(arm) {
    return 'arm/' + arm.index + '/' + (token ? '?token=' + encodeURIComponent(token) : '');
  }

  function badge(text, kind) { return el('span', 'badge' + (kind ? ' badge-' + kind : ''), text); }

  // Tasks per 5 minutes over the last hour, oldest on the left.
  function activityLine(counts) {
    var width = 120;
    var height = 22;
    var max = Math.max.apply(null, counts.concat([1]));
    var step = width / counts.length;
    var line = svg('svg', {
      'class': 'spark', width: width, height: height, viewBox: '0 0 ' + width + ' ' + height,
      role: 'img', 'aria-label': 'tasks per 5 minutes over the last hour'
    });
    line.appendChild(svg('line', { x1: 0, y1: height - 0.5, x2: width, y2: height - 0.5,
                                   stroke: '#cbd5e1', 'stroke-width': 1 }));
    counts.forEach(function (count, i) {
      if (count <= 0) { return; }
      var h = Math.max(2, Math.round((height - 2) * count / max));
      line.appendChild(svg('rect', { x: (i * step + 1).toFixed(1), y: height - 1 - h,
                                     width: Math.max(1, step - 2).toFixed(1), height: h }));
    });
    return line;
  }

  function liveText(arm, serverMs) {
    if (!isNum(arm.heard_ms)) { return 'never heard from'; }
    if (arm.live) { return 'live'; }
    return 'not heard from since ' + clock(arm.heard_ms) + ' (' +
      duration(serverMs - arm.heard_ms) + ')';
  }

  function phaseText(arm) {
    if (arm.running) {
      return (arm.phase || 'running') + ' \u00b7 step ' + arm.step_count;
    }
    if (!isNum(arm.heard_ms)) { return DASH; }
    return arm.supervisor_up ? 'idle' : 'no supervisor';
  }

  function buildTile(arm, serverMs) {
    var tile = el('a', 'tile tile-' + arm.urgency);
    tile.href = armLink(arm);
    tile.title = 'open ' + arm.name + '\u2019s page';
    tile.setAttribute('data-arm', arm.index);
    tile.setAttribute('data-urgency', arm.urgency);

    var head = el('div', 'tile-head');
    head.appendChild(el('span', 'tile-name', arm.name));
    // An arm named after its domain says its domain once.
    var where = (arm.name === 'domain ' + arm.domain ? '' : 'domain ' + arm.domain) +
        (arm.host ? (arm.name === 'domain ' + arm.domain ? '' : ' \u00b7 ') + arm.host : '');
    head.appendChild(el('span', 'tile-where', where));
    tile.appendChild(head);

    var live = el('div', 'tile-live' + (arm.live ? ' tile-live-up' : ''));
    live.appendChild(el('span', 'dot'));
    live.appendChild(el('span', null, liveText(arm, serverMs)));
    tile.appendChild(live);

    tile.appendChild(el('div', 'tile-phase', phaseText(arm)));

    var row = el('div', 'tile-row');
    function figure(label, value) {
      var item = el('span', null, label + ' ');
      item.appendChild(el('b', null, value));
      row.appendChild(item);
    }
    if (arm.running && isNum(arm.started_ms) && arm.started_ms > 0) {
      figure('elapsed', duration(serverMs - arm.started_ms));
    }
    if (arm.running || isNum(arm.heard_ms)) {
      figure('picked', arm.picked);
      figure('given up', arm.given_up);
    }
    if (row.firstChild) { tile.appendChild(row); }

    var badges = el('div', 'badges');
    arm.alarms.forEach(function (text) { badges.appendChild(badge(text, 'bad')); });
    arm.warnings.forEach(function (text) { badges.appendChild(badge(text, 'warn')); });
    if (arm.abnormal === false) { badges.appendChild(badge('arm normal', 'ok')); }
    if (arm.env_stop && arm.warnings.length === 0) { badges.appendChild(badge('held', 'warn')); }
    if (badges.firstChild) { tile.appendChild(badges); }

    if (arm.last_result) {
      var r = arm.last_result;
      var result = el('div', 'tile-result');
      result.appendChild(el('span', null, 'last task: ' + (r.outcome || DASH) + ' '));
      result.appendChild(el('span', 'code', r.error_code));
      if (r.meaning) { result.appendChild(el('span', null, ' ' + r.meaning)); }
      if (isNum(r.ended_ms)) {
        result.appendChild(el('span', 'tile-ago', ', ' + duration(serverMs - r.ended_ms) + ' ago'));
      }
      tile.appendChild(result);
    }

    var foot = el('div', 'tile-foot');
    foot.appendChild(activityLine(arm.hour.activity));
    foot.appendChild(el('span', 'tile-hour', arm.hour.tasks + ' task' +
                        (arm.hour.tasks === 1 ? '' : 's') + ' this hour'));
    tile.appendChild(foot);
    return tile;
  }

  // A tile changes only when what it shows does; the ages are part of that, once a second.
  function tileKey(arm, serverMs) {
    return JSON.stringify(arm) + '|' + Math.floor(serverMs / 1000);
  }

  function renderFigures(data) {
    var fleet = data.fleet;
    var live = $('fleet-live');
    live.textContent = fleet.live + ' of ' + fleet.arms + ' live';
    live.className = 'pill' + (fleet.live > 0 ? ' pill-ok' : '');
    var alarms = $('fleet-alarms');
    alarms.textContent = fleet.alarms === 0 ? 'no alarms' :
      fleet.alarms + (fleet.alarms === 1 ? ' arm' : ' arms') + ' in alarm';
    alarms.className = 'pill' + (fleet.alarms > 0 ? ' pill-bad' : '');
    document.title = (fleet.alarms > 0 ? '(' + fleet.alarms + ') ' : '') + 'Quorvel fleet';
    $('fig-tasks').textContent = fleet.hour.tasks;
    $('fig-recoveries').textContent = fleet.hour.recoveries;
    var codes = $('fig-results');
    clear(codes);
    if (fleet.hour.codes.length === 0) { codes.textContent = 'no task ended this hour'; }
    fleet.hour.codes.forEach(function (c) {
      var item = el('span', 'figure-code');
      item.appendChild(el('b', null, c.count + '\u00d7 '));
      item.appendChild(el('span', 'code', c.code));
      if (c.meaning) { item.appendChild(el('span', 'figure-meaning', ' ' + c.meaning)); }
      codes.appendChild(item);
    });
    $('th-wait').textContent = data.alarm_thresholds.wait_s;
    $('th-silent').textContent = data.alarm_thresholds.silent_s;
  }

  function render(data) {
    renderFigures(data);
    var serverMs = data.server_ms;
    var container = $('tiles');
    var unknown = data.arms.filter(function (arm) { return arm.urgency === 'unknown'; });
    var fold = unknown.length > UNKNOWN_TILES_MAX;
    $('nobody').hidden = !(data.arms.length > 0 && unknown.length === data.arms.length);
    var seen = {};
    var previous = null;
    data.arms.forEach(function (arm) {
      if (fold && arm.urgency === 'unknown') { return; }
      seen[arm.index] = true;
      var key = tileKey(arm, serverMs);
      var known = tiles[arm.index];
      if (!known || known.key !== key) {
        var node = buildTile(arm, serverMs);
        if (known) { container.replaceChild(node, known.node); }
        var shownEvent = known ? known.eventMs : null;
        tiles[arm.index] = known = { key: key, node: node, eventMs: arm.event_ms };
        // A tile is drawn again every second (its times move): the log keeps each arm's steps
        // and urgencies, once each, for whoever measures the page.
        if (arm.event_ms !== shownEvent || arm.urgency !== (logged[arm.index] || {}).urgency) {
          logged[arm.index] = { urgency: arm.urgency };
          window.quorvelFleetLog.push({ arm: arm.index, urgency: arm.urgency, phase: arm.phase,
                                        step: arm.step_count, event_ms: arm.event_ms,
                                        server_ms: serverMs, at: Date.now() });
          if (window.quorvelFleetLog.length > 20000) { window.quorvelFleetLog.splice(0, 10000); }
        }
      }
      // In order of urgency: each tile follows the one before it.
      var want = previous ? previous.nextSibling : container.firstChild;
      if (want !== known.node) { container.insertBefore(known.node, want); }
      previous = known.node;
    });
    Object.keys(tiles).forEach(function (index) {
      if (!seen[index]) {
        container.removeChild(tiles[index].node);
        delete tiles[index];
      }
    });

    var quiet = $('quiet');
    quiet.hidden = !fold;
    if (fold) {
      var list = $('quiet-list');
      clear(list);
      $('quiet-count').textContent = unknown.length;
      unknown.forEach(function (arm) {
        var chip = el('a', 'chip', arm.name);
        chip.href = armLink(arm);
        list.appendChild(chip);
      });
    }
  }

  function setLink(up, text) {
    var link = $('link');
    link.className = 'link ' + (up ? 'link-up' : 'link-down');
    $('link-text').textContent = text;
    document.body.classList.toggle('offline', !up && everConnected);
    if (!everConnected && !up) { document.body.classList.add('offline'); }
  }

  function connect() {
    if (source) { source.close(); }
    source = new EventSource('api/fleet/stream');
    source.addEventListener('fleet', function (event) {
      lastMessage = Date.now();
      everConnected = true;
      var data;
      try {
        data = JSON.parse(event.data);
      } catch (error) {
        return;
      }
      setLink(true, 'live');
      render(data);
    });
    source.onerror = function () {
      setLink(false, 'reconnecting\u2026');
    };
  }

  document.addEventListener('DOMContentLoaded', function () {
    setLink(false, 'connecting\u2026');
    connect();
    // A stream that stopped without an error (a suspended laptop, a dropped proxy) is opened
    // again.
    setInterval(function () {
      if (lastMessage > 0 && Date.now() - lastMessage > SILENCE_MS) {
        lastMessage = Date.now();
        setLink(false, 'reconnecting\u2026');
        connect();
      }
    }, 1000);
  });
})();
