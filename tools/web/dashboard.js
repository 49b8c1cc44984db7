// The page of quorvel dashboard: keeps a copy of the dashboard's state, fed by its event
// stream, and draws it. Everything that comes from the robot is inserted as text, never as
// markup.
(function () {
  'use strict';

  var SVG_NS = 'http://www.w3.org/2000/svg';
  var DASH = '\u2013';
  var STALE_MS = 3000;          // objects not refreshed for this long are drawn faded
  var SILENCE_MS = 25000;       // no message (the server pings every 10 s): reconnect
  var TIMELINE_KEEP = 400;

  var token = new URLSearchParams(window.location.search).get('token') || '';
  var state = {
    task: null, timeline: [], timelineTask: null, workspace: null, surroundings: null,
    arm: null, voice: null, outcomes: null, endpoints: null, plot: null
  };
  // Set when the dashboard plays a recording (quorvel dashboard --bag): see "replay" below.
  var replay = null;
  var serverOffset = 0;         // server clock minus this clock, in ms
  var source = null;
  var connected = false;
  var everConnected = false;
  var lastMessage = 0;
  var retryTimer = null;
  var retryDelay = 1000;
  var busy = false;

  // For tests and measurements: when each task event was shown, against its stamp.
  window.quorvelRenderLog = [];

  function $(id) { return document.getElementById(id); }

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) { node.className = className; }
    if (text !== undefined && text !== null) { node.textContent = String(text); }
    return node;
  }

  function svg(tag, attrs, text) {
    var node = document.createElementNS(SVG_NS, tag);
    Object.keys(attrs || {}).forEach(function (key) { node.setAttribute(key, attrs[key]); });
    if (text !== undefined) { node.textContent = String(text); }
    return node;
  }

  function clear(node) { while (node.firstChild) { node.removeChild(node.firstChild); } }

  // The dashboard's clock; in a recording, the moment shown, which stands still while paused.
  function now() { return replay ? replay.nowMs : Date.now() + serverOffset; }

  function isNum(v) { return typeof v === 'number' && isFinite(v); }

  function fmt(v, digits) { return isNum(v) ? v.toFixed(digits) : DASH; }

  function duration(ms) {
    if (!isNum(ms) || ms < 0) { return DASH; }
    var s = ms / 1000;
    if (s < 60) { return s.toFixed(1) + ' s'; }
    var m = Math.floor(s / 60);
    var rest = Math.floor(s - m * 60);
    if (m < 60) { return m + ' min ' + (rest < 10 ? '0' : '') + rest + ' s'; }
    return Math.floor(m / 60) + ' h ' + (m % 60) + ' min';
  }

  function ago(ms) {
    if (!isNum(ms) || ms <= 0) { return ''; }
    var s = Math.max(0, (now() - ms) / 1000);
    if (s < 1) { return 'just now'; }
    if (s < 60) { return Math.floor(s) + ' s ago'; }
    if (s < 3600) { return Math.floor(s / 60) + ' min ago'; }
    return Math.floor(s / 3600) + ' h ago';
  }

  function clock(ms) {
    if (!isNum(ms) || ms <= 0) { return DASH; }
    var d = new Date(ms);
    function two(n) { return (n < 10 ? '0' : '') + n; }
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  // ---- connection ----------------------------------------------------------------------

  function setLink(up, text) {
    connected = up;
    $('link').className = 'link ' + (up ? (replay ? 'link-replay' : 'link-up') : 'link-down');
    $('link-text').textContent = text;
    document.body.classList.toggle('offline', !up && everConnected);
    if (!up) {
      $('endpoints-summary').textContent = 'endpoints unknown';
      $('endpoints-summary').className = 'pill';
    } else if (state.endpoints) {
      renderEndpoints();
    }
    updateButtons();
  }

  function connect() {
    if (retryTimer) { clearTimeout(retryTimer); retryTimer = null; }
    if (source) { source.close(); }
    source = new EventSource('api/stream');
    var names = ['snapshot', 'task', 'timeline', 'workspace', 'surroundings', 'arm', 'voice',
                 'outcomes', 'endpoints', 'plot', 'ping'];
    names.forEach(function (name) {
      source.addEventListener(name, function (event) { receive(name, event.data); });
    });
    source.onerror = function () {
      setLink(false, everConnected ? 'reconnecting\u2026' : 'connecting\u2026');
      // The browser retries by itself unless the server refused the stream; then we do.
      if (source.readyState === EventSource.CLOSED) {
        retryTimer = setTimeout(connect, retryDelay);
        retryDelay = Math.min(retryDelay * 2, 10000);
      }
    };
  }

  function receive(name, text) {
    lastMessage = Date.now();
    var data;
    try { data = JSON.parse(text); } catch (e) { return; }
    if (!connected) {
      everConnected = true;
      retryDelay = 1000;
      setLink(true, 'live');
    }
    switch (name) {
      case 'snapshot': applySnapshot(data); break;
      case 'timeline': applyTimeline(data, false); break;
      case 'plot': applyPlot(data); break;
      case 'ping': break;
      default:
        state[name] = data;
        render(name);
    }
  }

  // A stream can die without an error (a laptop that slept, a proxy): watch for silence.
  setInterval(function () {
    if (!replay && connected && Date.now() - lastMessage > SILENCE_MS) {
      setLink(false, 'reconnecting\u2026');
      connect();
    }
  }, 2000);

  function applySnapshot(data) {
    if (isNum(data.server_ms)) { serverOffset = data.server_ms - Date.now(); }
    ['task', 'workspace', 'surroundings', 'arm', 'voice', 'outcomes', 'endpoints']
      .forEach(function (name) { state[name] = data[name]; });
    applyTimeline(data.timeline, true);
    applyPlot(data.plot);
    ['task', 'workspace', 'arm', 'voice', 'outcomes', 'endpoints'].forEach(render);
  }

  // The plot's samples come in pieces, like the timeline's entries.
  function applyPlot(data) {
    if (!data) { return; }
    var p = state.plot;
    if (data.reset || !p || p.task !== data.task) {
      state.plot = data;
    } else {
      data.samples.forEach(function (sample) { p.samples.push(sample); });
      ['goal_id', 'started_ms', 'ended_ms', 'names', 'period_ms', 'motions',
       'recovery_positions', 'recoveries', 'abnormal'].forEach(function (key) {
        p[key] = data[key];
      });
    }
    if (!replay) { renderPlot(state.plot, null); }
  }

  // ---- timeline ------------------------------------------------------------------------

  // The timeline follows its newest event unless the reader scrolled up to older ones.
  var followTimeline = true;

  function followIfWanted() {
    // A recording keeps its current event in view instead.
    if (replay) { markCurrent(); return; }
    var list = $('timeline');
    if (followTimeline) { list.scrollTop = list.scrollHeight; }
  }

  function applyTimeline(data, replayed) {
    if (!data) { return; }
    var list = $('timeline');
    var entries = data.entries || [];
    // A recording sends the whole timeline at each moment: keep the rows that did not change.
    if (replay && data.task === state.timelineTask && state.timeline.length <= entries.length &&
        (state.timeline.length === 0 ||
         state.timeline[state.timeline.length - 1].n === entries[state.timeline.length - 1].n) &&
        (state.timeline.length === 0 || state.timeline[0].n === entries[0].n)) {
      data = { task: data.task, reset: false, entries: entries.slice(state.timeline.length) };
    }
    if (data.reset || data.task !== state.timelineTask) {
      state.timeline = [];
      state.timelineTask = data.task;
      clear(list);
    }
    entries = data.entries || [];
    entries.forEach(function (entry) {
      state.timeline.push(entry);
      list.appendChild(timelineRow(entry, !replayed));
    });
    // Recorded once the rows are in the document.
    var shown = Date.now();
    entries.forEach(function (entry) {
      window.quorvelRenderLog.push({
        seq: entry.seq, kind: entry.kind, stamp_ms: entry.stamp_ms,
        rendered_ms: shown, replay: replayed
      });
    });
    while (state.timeline.length > TIMELINE_KEEP) {
      state.timeline.shift();
      if (list.firstChild) { list.removeChild(list.firstChild); }
    }
    if (window.quorvelRenderLog.length > 5000) { window.quorvelRenderLog.splice(0, 1000); }
    followIfWanted();
    $('timeline-empty').hidden = state.timeline.length > 0;
    list.hidden = state.timeline.length === 0;
    var task = state.task;
    $('timeline-note').textContent = state.timeline.length ?
      state.timeline.length + ' event' + (state.timeline.length === 1 ? '' : 's') +
      (task && task.goal_id ? ' of task ' + task.goal_id.slice(0, 8) : '') : '';
  }

  function timelineRow(entry, fresh) {
    var li = el('li', 'level-' + (entry.level || 'info') + (fresh ? ' fresh' : ''));
    li.dataset.seq = entry.seq;
    li.dataset.kind = entry.kind;
    var offset = isNum(entry.offset_s) ? '+' + entry.offset_s.toFixed(1) + ' s' : DASH;
    li.appendChild(el('span', 'tl-time', offset));
    li.appendChild(el('span', 'tl-step', 'step ' + entry.step_count));
    var text = el('span', 'tl-text', entry.summary);
    text.appendChild(el('span', 'tl-kind', entry.kind_name));
    li.appendChild(text);
    return li;
  }

  // ---- rendering -----------------------------------------------------------------------

  function render(name) {
    switch (name) {
      case 'task': renderTask(); break;
      case 'workspace': case 'surroundings': renderWorkspace(); break;
      case 'arm': renderArm(); break;
      case 'voice': renderVoice(); break;
      case 'outcomes': renderOutcomes(); break;
      case 'endpoints': renderEndpoints(); renderTask(); break;
      default: break;
    }
  }

  function resultClass(task) {
    if (task.lost_with_restart) { return 'bad'; }
    if (task.outcome !== 'succeeded') { return 'warn'; }
    if (task.error_code === 102300001 || task.error_code === 102300005) { return 'bad'; }
    if (task.error_code === 102300002 || task.error_code === 102300003) { return 'warn'; }
    return 'ok';
  }

  function renderTask() {
    var t = state.task;
    var icon = $('task-state-icon');
    var flags = $('task-flags');
    clear(flags);
    var note = $('task-note');
    var e = state.endpoints;
    var blind = !!(e && e.known && !e.task_event_publishers);
    note.hidden = !blind;
    note.textContent = blind ? 'Nothing publishes the supervisor\'s task events, so what a task ' +
      'does cannot be shown here (no supervisor, or one without task events). The buttons still ' +
      'work; the arm, the announcements and the endpoints stay live.' : '';
    if (!t || !t.known) {
      $('task-phase').textContent = blind ? 'no task events' : 'no task yet';
      $('task-goal').textContent = '';
      icon.className = 'state-icon state-idle';
      ['task-steps', 'task-elapsed', 'task-picked', 'task-given-up'].forEach(function (id) {
        $(id).textContent = DASH;
      });
      $('task-result').hidden = true;
      updateButtons();
      return;
    }
    $('task-phase').textContent = t.phase;
    $('task-goal').textContent = 'goal ' + t.goal_id.slice(0, 8) + (t.cmd ? ', cmd ' + t.cmd : '');
    $('task-goal').title = t.goal_id;
    $('task-steps').textContent = t.step_count;
    $('task-picked').textContent = t.picked;
    $('task-given-up').textContent = t.given_up;
    if (replay) { note.hidden = true; }
    if (t.running) {
      icon.className = 'state-icon state-running';
      $('task-result').hidden = true;
    } else {
      var cls = resultClass(t);
      icon.className = 'state-icon state-' + cls;
      $('task-result').hidden = false;
      $('task-result').className = 'result ' + cls;
      $('task-outcome').textContent = t.outcome || 'ended';
      $('task-error-code').textContent = t.error_code;
      $('task-error-meaning').textContent = t.error_meaning ? '(' + t.error_meaning + ')' : '';
    }
    if (t.cancel_requested && t.running) {
      flags.appendChild(el('span', 'flag', 'cancel requested (takes effect when the task ends)'));
    }
    if (t.supervisor_gone && t.running) {
      // The action server itself is away: the goal is kept and its result asked for again.
      var away = el('span', 'flag flag-bad');
      away.dataset.goneSince = t.supervisor_gone.since_ms;
      away.dataset.goneText = 'supervisor ' +
        (t.supervisor_gone.replaced ? 'restarted' : 'unreachable') + ' since ' +
        clock(t.supervisor_gone.since_ms);
      flags.appendChild(away);
    } else if (t.supervisor_gone_s > 0) {
      flags.appendChild(el('span', 'flag',
        'supervisor unreachable for ' + duration(t.supervisor_gone_s * 1000) + ' during the task'));
    }
    if (t.server_gone && t.running) {
      // Not "moving to ...": the request went to a server that is no longer there.
      var gone = el('span', 'flag flag-bad');
      gone.dataset.goneSince = t.server_gone.since_ms;
      gone.dataset.goneText = t.server_gone.service + ' server ' +
        (t.server_gone.replaced ? 'replaced' : 'gone') + ' since ' + clock(t.server_gone.since_ms);
      flags.appendChild(gone);
    }
    if (!t.start_seen) { flags.appendChild(el('span', 'flag', 'joined after the start')); }
    if (t.events_missed > 0) {
      flags.appendChild(el('span', 'flag', plural(t.events_missed, 'event') + ' missed'));
    }
    tick();
    updateButtons();
  }

  // Elapsed times and ages move on between messages.
  function tick() {
    var t = state.task;
    if (t && t.known) {
      var end = t.running ? now() : t.ended_ms;
      $('task-elapsed').textContent = t.start_seen ? duration(end - t.started_ms) :
        'since ' + clock(t.started_ms);
    }
    document.querySelectorAll('[data-since]').forEach(function (node) {
      node.textContent = ago(Number(node.dataset.since));
    });
    document.querySelectorAll('[data-gone-since]').forEach(function (node) {
      node.textContent = node.dataset.goneText + ' (' +
        duration(now() - Number(node.dataset.goneSince)) + ')';
    });
    if (state.arm && state.arm.target) {
      var target = state.arm.target;
      $('arm-target').textContent = 'target ' + target.name + ', ' + ago(target.stamp_ms);
    }
  }
  setInterval(function () {
    tick();
    // Objects fade when their topic falls silent.
    if (state.surroundings && state.surroundings.known &&
        now() - state.surroundings.received_ms > STALE_MS) {
      renderWorkspace();
    }
  }, 500);

  // ---- workspace -------------------------------------------------------------------------

  var NICE = [1, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10, 15, 20];

  // The scale follows the stop distance and the trashes; objects farther out are pinned to the
  // edge with their distance, so that one far object does not shrink the table to a dot.
  function viewRadius(ws) {
    var r = Math.max(1.2, (ws ? ws.stop_distance || 0 : 0) * 1.12);
    function grow(x, y) { if (isNum(x) && isNum(y)) { r = Math.max(r, Math.hypot(x, y) * 1.1); } }
    if (ws && ws.detection) { ws.detection.items.forEach(function (i) { grow(i.x, i.y); }); }
    if (ws) { ws.given_up.forEach(function (p) { grow(p.x, p.y); }); }
    for (var i = 0; i < NICE.length; ++i) { if (NICE[i] >= r) { return NICE[i]; } }
    return NICE[NICE.length - 1];
  }

  function ringStep(radius) {
    if (radius <= 1.5) { return 0.25; }
    if (radius <= 3) { return 0.5; }
    if (radius <= 6) { return 1; }
    if (radius <= 10) { return 2; }
    return 5;
  }

  function renderWorkspace() {
    var ws = state.workspace;
    var sur = state.surroundings;
    var root = $('workspace');
    clear(root);
    var size = 520, c = size / 2, pad = 22;
    var radius = viewRadius(ws);
    var k = (c - pad) / radius;               // pixels per metre
    // x points forward (up), y to the left, as seen from above.
    function sx(x, y) { return c - y * k; }
    function sy(x, y) { return c - x * k; }
    function within(x, y) { return Math.hypot(x, y) <= radius * 1.02; }

    var step = ringStep(radius);
    for (var d = step; d <= radius + 1e-9; d += step) {
      root.appendChild(svg('circle', { cx: c, cy: c, r: d * k, 'class': 'ws-ring' }));
      // Along the lower right, away from the reach and stop labels at the top.
      var a = Math.PI / 4;
      root.appendChild(svg('text', {
        x: c + Math.cos(a) * d * k + 2, y: c + Math.sin(a) * d * k + 11, 'class': 'ws-ring-label'
      }, trimNum(d) + ' m'));
    }
    var lo = pad / 2, hi = size - pad / 2;
    root.appendChild(svg('line', { x1: lo, y1: c, x2: hi, y2: c, 'class': 'ws-axis' }));
    root.appendChild(svg('line', { x1: c, y1: lo, x2: c, y2: hi, 'class': 'ws-axis' }));

    var reach = ws ? ws.reach_limit : 0.9;
    var stop = ws ? ws.stop_distance : 2.0;
    var held = !!(ws && ws.env_stop && ws.env_stop.held);
    if (isNum(stop) && stop > 0) {
      root.appendChild(svg('circle', {
        cx: c, cy: c, r: stop * k, 'class': 'ws-stop' + (held ? ' held' : '')
      }));
      root.appendChild(svg('text', { x: c + 6, y: c - stop * k + 14, 'class': 'ws-stop-label' },
        'stop ' + trimNum(stop) + ' m' + (ws && !ws.stop_distance_known ? ' (default)' : '') +
        (held ? ' \u2013 holding' : '')));
    }
    if (isNum(reach)) {
      root.appendChild(svg('circle', { cx: c, cy: c, r: reach * k, 'class': 'ws-reach' }));
      root.appendChild(svg('text', { x: c + 6, y: c - reach * k + 14, 'class': 'ws-reach-label' },
        'reach ' + trimNum(reach) + ' m'));
    }

    // The arm's origin and its axes.
    var arrow = 22;
    root.appendChild(svg('line', { x1: c, y1: c, x2: c, y2: c - arrow, 'class': 'ws-arrow' }));
    root.appendChild(svg('line', { x1: c, y1: c, x2: c - arrow, y2: c, 'class': 'ws-arrow' }));
    root.appendChild(svg('text', { x: c - 3, y: c - arrow - 3, 'class': 'ws-arrow-label' }, 'x'));
    root.appendChild(svg('text', { x: c - arrow - 9, y: c + 4, 'class': 'ws-arrow-label' }, 'y'));
    root.appendChild(svg('circle', { cx: c, cy: c, r: 9, 'class': 'ws-robot-ring' }));
    root.appendChild(svg('circle', { cx: c, cy: c, r: 4, 'class': 'ws-robot' }));

    // Scale bar.
    var bar = step >= 1 ? step : (radius > 2 ? 1 : 0.5);
    var bx = pad, by = size - pad + 6;
    var bend = bx + bar * k;
    root.appendChild(svg('line', { x1: bx, y1: by, x2: bend, y2: by, 'class': 'ws-scale' }));
    root.appendChild(svg('line', { x1: bx, y1: by - 4, x2: bx, y2: by + 4, 'class': 'ws-scale' }));
    root.appendChild(svg('line', {
      x1: bend, y1: by - 4, x2: bend, y2: by + 4, 'class': 'ws-scale'
    }));
    root.appendChild(svg('text', { x: bend + 6, y: by + 4, 'class': 'ws-scale-label' },
      trimNum(bar) + ' m'));

    var offscale = 0;
    // Objects around the robot.
    var note = '';
    if (sur && sur.known) {
      var stale = now() - sur.received_ms > STALE_MS;
      sur.objects.forEach(function (o) {
        if (!isNum(o.x) || !isNum(o.y)) { return; }
        var near = isNum(stop) && o.distance < stop;
        var cls = 'ws-object' + (near ? ' near' : '') + (stale ? ' stale' : '');
        var tip = 'object at (' + fmt(o.x, 2) + ', ' + fmt(o.y, 2) + '), ' +
          fmt(o.distance, 2) + ' m';
        if (within(o.x, o.y)) {
          var dot = svg('circle', { cx: sx(o.x, o.y), cy: sy(o.x, o.y), r: 7, 'class': cls });
          dot.appendChild(svg('title', {}, tip));
          root.appendChild(dot);
          return;
        }
        // Beyond the view: a marker on the edge, pointing at it.
        var f = (radius * 0.97) / Math.hypot(o.x, o.y);
        var ex = sx(o.x * f, o.y * f), ey = sy(o.x * f, o.y * f);
        var ang = Math.atan2(ey - c, ex - c);
        var s1 = 9, w = 0.5;
        var pts = [
          [ex + Math.cos(ang) * s1, ey + Math.sin(ang) * s1],
          [ex + Math.cos(ang + Math.PI - w) * s1, ey + Math.sin(ang + Math.PI - w) * s1],
          [ex + Math.cos(ang + Math.PI + w) * s1, ey + Math.sin(ang + Math.PI + w) * s1]
        ].map(function (p) { return p[0].toFixed(1) + ',' + p[1].toFixed(1); }).join(' ');
        var mark = svg('polygon', { points: pts, 'class': cls });
        mark.appendChild(svg('title', {}, tip + ' (beyond the view)'));
        root.appendChild(mark);
        var lx = ex - Math.cos(ang) * 16, ly = ey - Math.sin(ang) * 16 + 4;
        root.appendChild(svg('text', {
          x: lx, y: ly,
          'text-anchor': Math.cos(ang) > 0.3 ? 'end' : (Math.cos(ang) < -0.3 ? 'start' : 'middle'),
          'class': 'ws-offscale-label'
        }, fmt(o.distance, 1) + ' m'));
      });
      note = sur.total + ' object' + (sur.total === 1 ? '' : 's') + ' around' +
        (isNum(sur.nearest) ? ', nearest ' + fmt(sur.nearest, 2) + ' m' : '') +
        (sur.frame ? ' (frame ' + sur.frame + ')' : '') + (stale ? ', not updated' : '');
    }

    // Given-up spots.
    if (ws) {
      ws.given_up.forEach(function (p) {
        if (!isNum(p.x) || !isNum(p.y)) { return; }
        if (!within(p.x, p.y)) { offscale++; return; }
        var x = sx(p.x, p.y), y = sy(p.x, p.y), s = 6;
        var g = svg('g', {});
        var cross = 'ws-given-up';
        g.appendChild(svg('line', { x1: x - s, y1: y - s, x2: x + s, y2: y + s, 'class': cross }));
        g.appendChild(svg('line', { x1: x - s, y1: y + s, x2: x + s, y2: y - s, 'class': cross }));
        g.appendChild(svg('title', {}, 'given-up spot (' + fmt(p.x, 3) + ', ' + fmt(p.y, 3) + ')'));
        root.appendChild(g);
      });
    }

    // Where this task's trashes were picked.
    if (ws && ws.picked) {
      ws.picked.forEach(function (p) {
        if (!isNum(p.x) || !isNum(p.y) || !within(p.x, p.y)) { return; }
        var x = sx(p.x, p.y), y = sy(p.x, p.y);
        var g = svg('g', { 'class': 'ws-picked' });
        g.appendChild(svg('circle', { cx: x, cy: y, r: 6 }));
        g.appendChild(svg('path', {
          d: 'M' + (x - 3) + ' ' + y + ' l2.2 2.4 l4 -4.6', 'class': 'ws-picked-check'
        }));
        g.appendChild(svg('title', {}, 'picked at (' + fmt(p.x, 3) + ', ' + fmt(p.y, 3) + ')'));
        root.appendChild(g);
      });
    }

    // The last detection.
    var det = ws && ws.detection;
    if (det) {
      det.items.forEach(function (item) {
        if (!isNum(item.x) || !isNum(item.y)) { return; }
        if (!within(item.x, item.y)) { offscale++; return; }
        var x = sx(item.x, item.y), y = sy(item.x, item.y);
        var far = isNum(item.distance) && isNum(reach) && item.distance >= reach;
        if (item.chosen) {
          root.appendChild(svg('circle', { cx: x, cy: y, r: 13, 'class': 'ws-chosen-ring' }));
        }
        var dot = svg('circle', {
          cx: x, cy: y, r: 7,
          'class': 'ws-item' + (item.chosen ? ' chosen' : '') + (far ? ' far' : '')
        });
        dot.appendChild(svg('title', {}, 'trash ' + (item.index + 1) + ', type ' + item.type +
          ', grab position (' + fmt(item.x, 3) + ', ' + fmt(item.y, 3) + ', ' + fmt(item.z, 3) +
          '), ' + fmt(item.distance, 3) + ' m' + (item.chosen ? ', chosen' : '')));
        root.appendChild(dot);
        root.appendChild(svg('text', {
          x: x + (item.chosen ? 16 : 10), y: y + 4,
          'class': 'ws-item-label' + (item.chosen ? ' chosen' : '')
        }, String(item.index + 1) + (item.chosen ? ' target' : '')));
      });
    }
    if (offscale > 0) {
      root.appendChild(svg('text', {
        x: size - pad, y: size - 8, 'text-anchor': 'end', 'class': 'ws-offscale'
      },
        offscale + ' beyond the view'));
    }

    $('map-note').textContent = note;
    var dn = $('detection-note');
    if (!det) {
      dn.textContent = 'No detection in this task yet.';
    } else if (det.status === 0) {
      dn.textContent = 'Last detection failed' + (det.errmsg ? ': ' + det.errmsg : '') +
        ' (' + ago(det.stamp_ms) + ').';
    } else {
      var chosen = det.chosen_index >= 0 ? 'chose trash ' + (det.chosen_index + 1) :
        'chose nothing';
      var trashes = det.total_items + ' trash' + (det.total_items === 1 ? '' : 'es');
      var spots = ws.given_up.length ? '; ' + plural(ws.given_up.length, 'spot') + ' given up' : '';
      dn.textContent = 'Last detection: ' + trashes + ', ' + chosen + spots + '.';
    }
  }

  function trimNum(v) { return String(Math.round(v * 100) / 100); }

  function plural(n, word) { return n + ' ' + word + (n === 1 ? '' : 's'); }

  // ---- arm -----------------------------------------------------------------------------

  function renderArm() {
    var arm = state.arm;
    if (!arm) { return; }
    var st = $('arm-state');
    if (arm.abnormal === true) {
      st.className = 'badge badge-bad';
      st.textContent = 'arm ABNORMAL';
    } else if (arm.abnormal === false) {
      st.className = 'badge badge-ok';
      st.textContent = 'arm normal';
    } else {
      st.className = 'badge badge-muted';
      st.textContent = 'arm state unknown';
    }
    var gr = $('gripper-state');
    if (arm.gripper === 'open' || arm.gripper === 'closed') {
      gr.className = 'badge badge-info';
      gr.textContent = 'gripper ' + arm.gripper;
    } else {
      gr.className = 'badge badge-muted';
      gr.textContent = arm.gripper ? 'gripper ' + arm.gripper : 'gripper unknown';
    }
    var body = $('joints');
    clear(body);
    var current = arm.joints.positions || [];
    var target = arm.target ? arm.target.positions : [];
    var n = Math.max(current.length, target.length);
    for (var i = 0; i < n; ++i) {
      var tr = el('tr');
      var name = arm.joints.names[i] || 'joint ' + (i + 1);
      tr.appendChild(el('td', '', name));
      var now_ = current[i], tgt = target[i];
      tr.appendChild(el('td', 'num', fmt(now_, 3)));
      tr.appendChild(el('td', 'num', fmt(tgt, 3)));
      var delta = isNum(now_) && isNum(tgt) ? now_ - tgt : null;
      var far = delta !== null && Math.abs(delta) > 0.02;
      tr.appendChild(el('td', 'num' + (far ? ' delta-big' : ''),
        delta === null ? DASH : (delta >= 0 ? '+' : '') + delta.toFixed(3)));
      var cell = el('td');
      var barNode = el('div', 'jbar');
      barNode.appendChild(el('span', 'mid'));
      if (isNum(tgt)) { barNode.appendChild(position('tgt', tgt)); }
      if (isNum(now_)) { barNode.appendChild(position('now', now_)); }
      cell.appendChild(barNode);
      tr.appendChild(cell);
      body.appendChild(tr);
    }
    $('joints-empty').hidden = n > 0;
    tick();
  }

  function position(cls, value) {
    var node = el('span', cls);
    var f = Math.max(0, Math.min(1, (value + Math.PI) / (2 * Math.PI)));
    node.style.left = (f * 100).toFixed(2) + '%';
    node.title = value.toFixed(3) + ' rad (' + (value * 180 / Math.PI).toFixed(1) + '\u00b0)';
    return node;
  }

  // ---- voice, outcomes, endpoints --------------------------------------------------------

  function renderVoice() {
    var list = $('voice');
    clear(list);
    var items = (state.voice && state.voice.items) || [];
    items.forEach(function (v) {
      var li = el('li');
      li.appendChild(el('span', 'v-code' + (v.code >= 1 && v.code <= 4 ? ' alert' : ''), v.code));
      li.appendChild(el('span', 'v-text', v.meaning));
      var age = el('span', 'v-age', ago(v.received_ms));
      age.dataset.since = v.received_ms;
      li.appendChild(age);
      list.appendChild(li);
    });
    $('voice-empty').hidden = items.length > 0;
  }

  function renderOutcomes() {
    var body = $('outcomes');
    clear(body);
    var items = (state.outcomes && state.outcomes.items) || [];
    items.forEach(function (o) {
      var tr = el('tr');
      tr.dataset.goalId = o.goal_id;
      tr.appendChild(el('td', 'mono', clock(o.ended_ms)));
      var cls = resultClass(o);
      tr.appendChild(el('td', 'o-outcome o-' + cls, o.outcome || 'ended'));
      var code = el('td', 'o-code');
      code.appendChild(el('span', 'mono', o.error_code));
      if (o.error_meaning) { code.appendChild(el('span', 'code-meaning', o.error_meaning)); }
      tr.appendChild(code);
      tr.appendChild(el('td', 'num o-picked', o.picked));
      tr.appendChild(el('td', 'num o-given-up', o.given_up));
      tr.appendChild(el('td', 'num', isNum(o.duration_s) ? duration(o.duration_s * 1000) : DASH));
      body.appendChild(tr);
    });
    $('outcomes-empty').hidden = items.length > 0;
  }

  function renderEndpoints() {
    var e = state.endpoints;
    var list = $('endpoints');
    clear(list);
    var summary = $('endpoints-summary');
    if (!e || !e.known) { summary.textContent = 'endpoints \u2026'; return; }
    var up = 0;
    e.items.forEach(function (item) {
      if (item.up) { up++; }
      var li = el('li', item.up ? 'up' : 'down');
      li.appendChild(el('span', 'e-dot'));
      li.appendChild(el('span', 'e-name', item.name));
      li.appendChild(el('span', 'e-kind', item.kind));
      li.appendChild(el('span', 'e-state', item.up ? 'up' : 'down'));
      list.appendChild(li);
    });
    summary.textContent = 'supervisor endpoints ' + up + ' / ' + e.items.length + ' up';
    summary.className = 'pill ' + (up === e.items.length ? 'pill-ok' : 'pill-bad');
    var src = $('events-source');
    if (e.task_event_publishers > 0) {
      src.className = 'small muted';
      src.textContent = 'Task events come from ' + e.task_event_publishers + ' publisher' +
        (e.task_event_publishers === 1 ? '' : 's') + '.';
    } else {
      src.className = 'small warn-text';
      src.textContent = 'Nothing publishes task events: the task and its timeline stay empty ' +
        '(no supervisor, or one without task events).';
    }
  }

  // ---- buttons -------------------------------------------------------------------------

  function updateButtons() {
    if (replay) { return; }
    var t = state.task;
    var running = !!(t && t.known && t.running);
    // Without task events the page cannot tell whether a task runs: leave both to the user.
    var blind = !state.endpoints || !state.endpoints.task_event_publishers;
    var usable = connected && !busy && token !== '';
    $('send-task').disabled = !usable || (running && !blind);
    $('cancel-task').disabled = !usable || (!running && !blind);
    if (token === '' && !busy) {
      say('Open the address quorvel dashboard printed (with ?token=) to use the buttons.', '');
    }
  }

  function say(text, cls) {
    var m = $('button-message');
    m.textContent = text;
    m.className = 'button-message' + (cls ? ' ' + cls : '');
  }

  function press(path, body) {
    busy = true;
    updateButtons();
    say(path === 'api/task' ? 'sending the task\u2026' : 'asking to cancel\u2026', '');
    fetch(path, {
      method: 'POST',
      headers: { 'X-Quorvel-Token': token, 'Content-Type': 'application/json' },
      body: body,
      cache: 'no-store'
    }).then(function (response) {
      return response.text().then(function (text) {
        var message = text.trim();
        try { message = JSON.parse(text).message; } catch (e) { /* plain text */ }
        if (response.status === 403) {
          message = 'Refused: this page\'s token is not the dashboard\'s. Was it restarted? ' +
            'Open the address it printed.';
        }
        say(message, response.ok ? 'ok' : 'bad');
      });
    }).catch(function () {
      say('The dashboard did not answer.', 'bad');
    }).then(function () {
      busy = false;
      updateButtons();
    });
  }

  document.addEventListener('DOMContentLoaded', function () {
    var list = $('timeline');
    // Only the reader scrolls up; following scrolls always go down.
    var lastTop = 0;
    list.addEventListener('scroll', function () {
      if (list.scrollHeight - list.scrollTop - list.clientHeight < 24) {
        followTimeline = true;
      } else if (list.scrollTop < lastTop) {
        followTimeline = false;
      }
      lastTop = list.scrollTop;
    });
    // The card changes height as the task card above grows or shrinks.
    if (window.ResizeObserver) { new ResizeObserver(followIfWanted).observe(list); }
    $('send-task').addEventListener('click', function () { press('api/task', '{"cmd": 1}'); });
    $('cancel-task').addEventListener('click', function () { press('api/cancel', ''); });
    renderWorkspace();
    renderPlot(null, null);
    var redraw = null;
    window.addEventListener('resize', function () {
      clearTimeout(redraw);
      redraw = setTimeout(function () {
        renderPlot(replay ? replay.plot : state.plot, replay ? cursorMs() : null);
      }, 100);
    });
    showFleetArm();
    // The same page serves the live supervisor and a recording; the dashboard says which.
    fetch('api/mode', { cache: 'no-store' }).then(function (response) {
      return response.json();
    }).then(function (mode) {
      if (mode.mode === 'replay') { startReplay(); } else { startLive(); }
    }).catch(startLive);
  });

  function startLive() {
    updateButtons();
    connect();
    // A first connection that does not come at once shows as a loss, not as a blank page.
    setTimeout(function () {
      if (!connected) { everConnected = true; setLink(false, 'reconnecting\u2026'); }
    }, 3000);
  }
  // ---- joint plot ----------------------------------------------------------------------

  var JOINT_COLOURS = ['#2563eb', '#e11d48', '#16a34a', '#7c3aed', '#0891b2', '#ea580c',
                       '#64748b', '#0d9488'];

  function jointColour(i) { return JOINT_COLOURS[i % JOINT_COLOURS.length]; }

  function niceStep(span, count) {
    var raw = span / count;
    var power = Math.pow(10, Math.floor(Math.log(raw) / Math.LN10));
    var steps = [1, 2, 2.5, 5, 10];
    for (var i = 0; i < steps.length; ++i) {
      if (steps[i] * power >= raw) { return steps[i] * power; }
    }
    return 10 * power;
  }

  function shortTarget(name) {
    if (!name) { return 'motion'; }
    return name.replace(/^recover_movej_/, 'recover ').replace(/_(joints|pose)$/, '')
      .replace(/_/g, ' ');
  }

  function jointNames(p) {
    var n = 0;
    (p.samples || []).forEach(function (s) { n = Math.max(n, s.length - 1); });
    (p.motions || []).forEach(function (m) { n = Math.max(n, m.positions.length); });
    var names = [];
    for (var i = 0; i < n; ++i) { names.push((p.names && p.names[i]) || 'joint ' + (i + 1)); }
    return names;
  }

  function renderPlotLegend(names) {
    var legend = $('plot-legend');
    clear(legend);
    names.forEach(function (name, i) {
      var li = el('li');
      var sw = el('span', 'sw sw-line');
      sw.style.background = jointColour(i);
      li.appendChild(sw);
      li.appendChild(document.createTextNode(name));
      legend.appendChild(li);
    });
    [['sw-target', 'target of a motion (dashed)'],
     ['sw-position', 'recovery position checked'],
     ['sw-position-reached', 'recovery position reached'],
     ['sw-recovery', 'recovery'], ['sw-abnormal', 'arm abnormal']].forEach(function (item) {
      var li = el('li');
      li.appendChild(el('span', 'sw ' + item[0]));
      li.appendChild(document.createTextNode(item[1]));
      legend.appendChild(li);
    });
  }

  // The current (or last) task's joint angles against the time since it started. `cursorMs`:
  // the moment a recording shows (ms since the epoch), or null.
  function renderPlot(p, cursorMs) {
    var root = $('plot');
    clear(root);
    var W = Math.max(320, Math.round(root.clientWidth || 900));
    var H = Math.max(200, Math.round(root.clientHeight || 300));
    root.setAttribute('viewBox', '0 0 ' + W + ' ' + H);
    var L = 58, R = 16, T = 22, B = 42;
    var pw = W - L - R, ph = H - T - B;
    var hasTask = !!(p && p.goal_id);
    var names = hasTask ? jointNames(p) : [];
    renderPlotLegend(names);
    root.classList.toggle('seekable', !!replay && hasTask);
    if (!hasTask || names.length === 0) {
      root.appendChild(svg('text', { x: W / 2, y: H / 2, 'text-anchor': 'middle', 'class': 'pl-empty' },
        hasTask ? 'No joint angles received during this task.' :
          (replay ? 'This task has no joint angles in the recording.' :
            'No task yet: the joint angles of the next task are drawn here.')));
      $('plot-note').textContent = '';
      return;
    }
    var samples = p.samples || [];
    var last = samples.length ? samples[samples.length - 1][0] : 0;
    var end = isNum(p.ended_ms) ? p.ended_ms - p.started_ms : last;
    if (!replay && !isNum(p.ended_ms)) { end = Math.max(end, now() - p.started_ms); }
    (p.motions || []).forEach(function (m) { end = Math.max(end, m.sent_ms); });
    var x0 = Math.min(0, samples.length ? samples[0][0] : 0) / 1000;
    var x1 = Math.max(end / 1000, x0 + 1);

    var lo = Infinity, hi = -Infinity;
    function span(v) { if (isNum(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); } }
    samples.forEach(function (s) { for (var j = 1; j < s.length; ++j) { span(s[j]); } });
    (p.motions || []).forEach(function (m) { m.positions.forEach(span); });
    (p.recovery_positions || []).forEach(function (r) { r.positions.forEach(span); });
    if (!isFinite(lo)) { lo = -1; hi = 1; }
    var pad = Math.max(0.1, (hi - lo) * 0.08);
    lo -= pad; hi += pad;

    function X(ms) { return L + (ms / 1000 - x0) / (x1 - x0) * pw; }
    function Y(v) { return T + (hi - v) / (hi - lo) * ph; }
    function fx(v) { return v.toFixed(1); }

    // Grid, ticks, axes and their units.
    var ys = niceStep(hi - lo, 5);
    for (var v = Math.ceil(lo / ys) * ys; v <= hi + 1e-9; v += ys) {
      root.appendChild(svg('line', { x1: L, y1: fx(Y(v)), x2: L + pw, y2: fx(Y(v)), 'class': 'pl-grid' }));
      root.appendChild(svg('text', { x: L - 6, y: fx(Y(v) + 4), 'text-anchor': 'end', 'class': 'pl-tick' },
        trimNum(v)));
    }
    var xs = niceStep(x1 - x0, Math.max(3, Math.floor(pw / 90)));
    for (var t = Math.ceil(x0 / xs) * xs; t <= x1 + 1e-9; t += xs) {
      var gx = fx(X(t * 1000));
      root.appendChild(svg('line', { x1: gx, y1: T, x2: gx, y2: T + ph, 'class': 'pl-grid' }));
      root.appendChild(svg('text', { x: gx, y: T + ph + 15, 'text-anchor': 'middle', 'class': 'pl-tick' },
        trimNum(t)));
    }
    root.appendChild(svg('line', { x1: L, y1: T, x2: L, y2: T + ph, 'class': 'pl-axis' }));
    root.appendChild(svg('line', { x1: L, y1: T + ph, x2: L + pw, y2: T + ph, 'class': 'pl-axis' }));
    root.appendChild(svg('text', { x: L + pw / 2, y: H - 6, 'text-anchor': 'middle', 'class': 'pl-label' },
      'time since the task started (s)'));
    root.appendChild(svg('text', {
      x: 14, y: T + ph / 2, 'text-anchor': 'middle', 'class': 'pl-label',
      transform: 'rotate(-90 14 ' + fx(T + ph / 2) + ')'
    }, 'joint angle (rad)'));

    function spanEnd(item) { return isNum(item.to_ms) ? item.to_ms : end; }
    // Recoveries and the arm's abnormal spells, behind the curves.
    (p.recoveries || []).forEach(function (r) {
      var a = X(r.from_ms), b = Math.max(X(spanEnd(r)), a + 2);
      var band = svg('rect', { x: fx(a), y: T, width: fx(b - a), height: ph, 'class': 'pl-recovery' });
      band.appendChild(svg('title', {}, 'recovery' + (r.what ? ' (' + r.what + ')' : '')));
      root.appendChild(band);
      root.appendChild(svg('text', { x: fx(a + 4), y: T + 20, 'class': 'pl-recovery-label' },
        'recovery' + (r.what ? ' (' + r.what + ')' : '')));
    });
    (p.abnormal || []).forEach(function (r) {
      var a = X(r.from_ms), b = Math.max(X(spanEnd(r)), a + 2);
      root.appendChild(svg('rect', { x: fx(a), y: T, width: fx(b - a), height: 6, 'class': 'pl-abnormal' }));
      root.appendChild(svg('text', { x: fx(a + 2), y: T - 4, 'class': 'pl-abnormal-label' }, 'arm abnormal'));
    });

    // Each motion: when it was sent, and the joints it was sent to until it was answered.
    var motions = p.motions || [];
    var rowsEnd = [-1e9, -1e9, -1e9];
    motions.forEach(function (m, i) {
      var a = X(m.sent_ms);
      root.appendChild(svg('line', { x1: fx(a), y1: T, x2: fx(a), y2: T + ph, 'class': 'pl-motion' }));
      var label = shortTarget(m.name) + (m.status !== null && m.status !== 102100000 ? ' \u2717' : '');
      var row = 0;
      while (row < rowsEnd.length - 1 && rowsEnd[row] > a) { row++; }
      rowsEnd[row] = a + label.length * 5.6 + 8;
      var tx = svg('text', { x: fx(a + 3), y: fx(T + ph - 5 - row * 12), 'class': 'pl-motion-label' }, label);
      tx.appendChild(svg('title', {}, (m.service || 'motion') + ' to ' + m.name +
        (m.status !== null ? ', answered ' + m.status : ', no answer yet')));
      root.appendChild(tx);
      if (!m.positions.length) { return; }
      var until = isNum(m.answered_ms) ? m.answered_ms :
        (i + 1 < motions.length ? motions[i + 1].sent_ms : end);
      var b = Math.max(X(until), a + 6);
      m.positions.forEach(function (value, j) {
        if (!isNum(value)) { return; }
        root.appendChild(svg('line', {
          x1: fx(a), y1: fx(Y(value)), x2: fx(b), y2: fx(Y(value)),
          stroke: jointColour(j), 'class': 'pl-target'
        }));
      });
    });

    // The angles.
    names.forEach(function (name, j) {
      var points = [];
      samples.forEach(function (s) {
        if (isNum(s[j + 1])) { points.push(fx(X(s[0])) + ',' + fx(Y(s[j + 1]))); }
      });
      if (points.length === 1) { points.push(points[0]); }
      var line = svg('polyline', { points: points.join(' '), stroke: jointColour(j), 'class': 'pl-line' });
      line.appendChild(svg('title', {}, name));
      root.appendChild(line);
    });

    // Where the recovery wanted the joints, at each check.
    (p.recovery_positions || []).forEach(function (r) {
      var x = X(r.at_ms);
      r.positions.forEach(function (value, j) {
        if (!isNum(value)) { return; }
        var y = Y(value), d = 5;
        var mark = svg('polygon', {
          points: [[x, y - d], [x + d, y], [x, y + d], [x - d, y]].map(function (pt) {
            return fx(pt[0]) + ',' + fx(pt[1]);
          }).join(' '),
          stroke: jointColour(j), fill: r.reached ? jointColour(j) : '#fff', 'class': 'pl-position'
        });
        mark.appendChild(svg('title', {}, r.name + ' ' + (r.reached ? 'reached' : 'not reached') +
          ': ' + names[j] + ' ' + value.toFixed(3) + ' rad'));
        root.appendChild(mark);
      });
    });

    if (cursorMs !== null && isNum(cursorMs)) {
      var at = cursorMs - p.started_ms;
      var cx = fx(Math.min(Math.max(X(at), L), L + pw));
      root.appendChild(svg('line', { x1: cx, y1: T - 2, x2: cx, y2: T + ph, 'class': 'pl-cursor' }));
      root.appendChild(svg('text', {
        x: cx, y: T - 8, 'text-anchor': Number(cx) > L + pw - 60 ? 'end' : 'middle',
        'class': 'pl-cursor-label'
      }, (at >= 0 ? '+' : '') + (at / 1000).toFixed(1) + ' s'));
    }
    $('plot-note').textContent = names.length + ' joints, ' + samples.length + ' samples' +
      (p.period_ms ? ' (one every ' + p.period_ms + ' ms at most)' : '');
  }

  // ---- a recording (quorvel dashboard --bag) ---------------------------------------------

  function getJson(url) {
    return fetch(url, { cache: 'no-store' }).then(function (response) {
      if (!response.ok) { throw new Error(url + ': ' + response.status); }
      return response.json();
    });
  }

  function dateTime(ms) {
    var d = new Date(ms);
    function two(n) { return (n < 10 ? '0' : '') + n; }
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' +
      clock(ms);
  }

  function startReplay() {
    replay = {
      info: null, task: null, detail: null, plot: null, times: [], at: 0, begin: 0, end: 0,
      playing: false, speed: 1, nowMs: 0, busy: false, again: false, lastFrame: Date.now(),
      shown: 0
    };
    window.quorvelReplay = replay;
    document.body.classList.add('replay');
    $('player').hidden = false;
    $('recording-pill').hidden = false;
    $('banner').textContent = 'Not connected to quorvel dashboard \u2014 is it still running?';
    wirePlayer();
    loadRecording();
    setInterval(frame, 100);
  }

  // Served by quorvel fleet under arm/<n>/: a way back to the fleet, and which arm this is.
  function showFleetArm() {
    var match = /\/arm\/(\d+)\/$/.exec(window.location.pathname);
    if (!match) { return; }
    var link = $('fleet-link');
    link.href = '../../' + (token ? '?token=' + encodeURIComponent(token) : '');
    link.hidden = false;
    var index = Number(match[1]);
    getJson('../../api/fleet').then(function (fleet) {
      (fleet.arms || []).forEach(function (arm) {
        if (arm.index !== index) { return; }
        var where = 'domain ' + arm.domain + (arm.host ? ' on ' + arm.host : '');
        var label = arm.name === 'domain ' + arm.domain ? where : arm.name + ' \u00b7 ' + where;
        $('brand-sub').textContent = 'arm dashboard \u00b7 ' + label;
        document.title = arm.name + ' \u2014 Quorvel arm dashboard';
      });
    }).catch(function () {});
  }

  function loadRecording() {
    getJson('api/replay').then(function (info) {
      replay.info = info;
      everConnected = true;
      setLink(true, 'paused');
      $('player-bag').textContent = info.bag;
      var select = $('player-task');
      clear(select);
      info.tasks.forEach(function (t) {
        var when = isNum(t.started_ms) ? dateTime(t.started_ms) : 'start not recorded';
        var how = t.finished ? t.outcome + ', ' + t.error_code +
          (t.error_meaning ? ' (' + t.error_meaning + ')' : '') : 'unfinished';
        var option = el('option', '', (t.index + 1) + '. ' + when + ' \u2013 ' + how +
          (isNum(t.duration_s) ? ', ' + duration(t.duration_s * 1000) : ''));
        option.value = t.index;
        select.appendChild(option);
      });
      if (!info.tasks.length) {
        var whole = el('option', '', 'no task events: the whole recording');
        whole.value = -1;
        select.appendChild(whole);
      }
      select.disabled = info.tasks.length < 2;
      pickTask(info.tasks.length ? 0 : -1);
    }).catch(function () {
      everConnected = true;
      setLink(false, 'not reachable');
      setTimeout(loadRecording, 2000);
    });
  }

  function wirePlayer() {
    $('player-task').addEventListener('change', function () {
      pickTask(Number($('player-task').value));
    });
    $('player-play').addEventListener('click', function () {
      if (!replay.playing && replay.at >= replay.end) { replay.at = replay.begin; }
      replay.playing = !replay.playing;
      replay.lastFrame = Date.now();
      updatePlayer();
      requestState();
    });
    $('player-next').addEventListener('click', function () { step(1); });
    $('player-prev').addEventListener('click', function () { step(-1); });
    // Space plays or pauses, the arrow keys step, unless a control of its own has the keys.
    document.addEventListener('keydown', function (event) {
      var tag = event.target && event.target.tagName;
      if (!replay.info || tag === 'SELECT' || tag === 'INPUT' || event.altKey || event.ctrlKey ||
          event.metaKey) {
        return;
      }
      if (event.key === ' ') {
        if (tag === 'BUTTON') { return; }  // the focused button takes its own space
        $('player-play').click();
      } else if (event.key === 'ArrowRight') {
        step(1);
      } else if (event.key === 'ArrowLeft') {
        step(-1);
      } else {
        return;
      }
      event.preventDefault();
    });
    document.querySelectorAll('.speed').forEach(function (button) {
      button.addEventListener('click', function () {
        replay.speed = Number(button.dataset.speed);
        updatePlayer();
      });
    });
    $('player-slider').addEventListener('input', function () {
      seek(replay.begin + Number($('player-slider').value) * 1e6);
    });
    $('plot').addEventListener('click', function (event) {
      var p = replay.plot;
      if (!p || !replay.info) { return; }
      var root = $('plot');
      var W = root.viewBox.baseVal.width || root.clientWidth;
      var x = event.offsetX * W / root.clientWidth;
      var L = 58, pw = W - 58 - 16;
      if (x < L || x > L + pw) { return; }
      // The inverse of the plot's X(): from its time to the recording's.
      var samples = p.samples || [];
      var last = samples.length ? samples[samples.length - 1][0] : 0;
      var end = isNum(p.ended_ms) ? p.ended_ms - p.started_ms : last;
      (p.motions || []).forEach(function (m) { end = Math.max(end, m.sent_ms); });
      var x0 = Math.min(0, samples.length ? samples[0][0] : 0) / 1000;
      var x1 = Math.max(end / 1000, x0 + 1);
      var ms = ((x - L) / pw * (x1 - x0) + x0) * 1000;
      seek((p.started_ms + ms - replay.info.start_ms) * 1e6);
    });
  }

  function pickTask(index) {
    var info = replay.info;
    replay.playing = false;
    if (index < 0) {
      replay.task = null;
      replay.detail = { events: [], plot: null };
      replay.plot = null;
      replay.times = [];
      replay.begin = 0;
      replay.end = info.duration_ns;
      $('player-date').textContent = info.tasks.length ? '' : 'recorded ' + dateTime(info.start_ms);
      seek(0);
      return;
    }
    var task = info.tasks[index];
    replay.task = task;
    replay.begin = task.begin_ns;
    replay.end = task.end_ns;
    $('player-date').textContent = isNum(task.started_ms) ?
      'task of ' + dateTime(task.started_ms) : 'task start not recorded';
    $('player-task').value = index;
    getJson('api/replay/task?index=' + index).then(function (detail) {
      if (replay.task !== task) { return; }
      detail.events.sort(function (a, b) { return a.at_ns - b.at_ns; });
      replay.detail = detail;
      replay.plot = detail.plot;
      replay.times = detail.events.map(function (e) { return e.at_ns; });
      seek(replay.times.length ? Math.max(replay.begin, replay.times[0]) : replay.begin);
    }).catch(function () { setLink(false, 'not reachable'); });
  }

  // The index of the last event at or before the moment shown; -1 before the first.
  function currentEvent() {
    var index = -1;
    for (var i = 0; i < replay.times.length && replay.times[i] <= replay.at; ++i) { index = i; }
    return index;
  }

  function step(direction) {
    replay.playing = false;
    var times = replay.times;
    var target = null;
    if (direction > 0) {
      for (var i = 0; i < times.length; ++i) {
        if (times[i] > replay.at) { target = times[i]; break; }
      }
    } else {
      for (var k = times.length - 1; k >= 0; --k) {
        if (times[k] < replay.at) { target = times[k]; break; }
      }
    }
    if (target === null) { target = direction > 0 ? replay.end : replay.begin; }
    seek(target);
  }

  function seek(at) {
    replay.at = Math.min(Math.max(at, replay.begin), replay.end);
    updatePlayer();
    requestState();
  }

  function cursorMs() { return replay && replay.shown ? replay.nowMs : null; }

  function updatePlayer() {
    var span = Math.max(0, replay.end - replay.begin);
    var slider = $('player-slider');
    slider.max = Math.max(1, Math.round(span / 1e6));
    slider.value = Math.round((replay.at - replay.begin) / 1e6);
    $('player-time').textContent = '+' + ((replay.at - replay.begin) / 1e9).toFixed(1) + ' s / ' +
      (span / 1e9).toFixed(1) + ' s';
    $('player-play').textContent = replay.playing ? '\u275a\u275a pause' : '\u25b6 play';
    if (connected) {
      $('link-text').textContent = replay.playing ? 'playing ' + replay.speed + '\u00d7' : 'paused';
    }
    document.querySelectorAll('.speed').forEach(function (button) {
      button.classList.toggle('active', Number(button.dataset.speed) === replay.speed);
    });
    var index = currentEvent();
    $('player-prev').disabled = replay.at <= replay.begin;
    $('player-next').disabled = replay.at >= replay.end;
    var text = '';
    if (replay.detail && replay.times.length) {
      text = index < 0 ? 'before the first event of the task' :
        'event ' + (index + 1) + ' of ' + replay.times.length + ': ' +
        replay.detail.events[index].summary;
    }
    $('player-event').textContent = text;
  }

  // One look at a time; a look asked for meanwhile is made with the newest moment.
  function requestState() {
    if (replay.busy) { replay.again = true; return; }
    replay.busy = true;
    var at = Math.round(replay.at);
    getJson('api/replay/state?at=' + at).then(function (data) {
      replay.busy = false;
      if (!connected) { setLink(true, 'paused'); updatePlayer(); }
      showState(data);
      if (replay.again) { replay.again = false; requestState(); }
    }).catch(function () {
      replay.busy = false;
      replay.playing = false;
      setLink(false, 'not reachable');
      updatePlayer();
    });
  }

  function showState(data) {
    replay.nowMs = data.server_ms;
    ['task', 'workspace', 'surroundings', 'arm', 'voice', 'outcomes'].forEach(function (name) {
      state[name] = data[name];
    });
    applyTimeline(data.timeline, true);
    ['task', 'workspace', 'arm', 'voice', 'outcomes'].forEach(render);
    markCurrent();
    replay.shown = data.replay.at_ns + 1;
    renderPlot(replay.plot, cursorMs());
    // For tests and measurements: which moment the page shows.
    window.quorvelReplayShown = { at_ns: data.replay.at_ns, shown_ms: Date.now() };
  }

  function markCurrent() {
    var list = $('timeline');
    var index = currentEvent();
    var seq = index >= 0 ? replay.detail.events[index].seq : null;
    var current = null;
    Array.prototype.forEach.call(list.children, function (li) {
      var on = seq !== null && Number(li.dataset.seq) === seq;
      li.classList.toggle('current', on);
      if (on) { current = li; }
    });
    if (current) {
      followTimeline = false;
      var top = current.offsetTop;
      if (top < list.scrollTop || top + current.offsetHeight > list.scrollTop + list.clientHeight) {
        list.scrollTop = Math.max(0, top - list.clientHeight / 2);
      }
    }
  }

  // Playing moves the moment on with the wall clock, times the speed.
  function frame() {
    var t = Date.now();
    if (replay.info && replay.playing) {
      replay.at += (t - replay.lastFrame) * 1e6 * replay.speed;
      if (replay.at >= replay.end) {
        replay.at = replay.end;
        replay.playing = false;
      }
      updatePlayer();
      requestState();
    } else if (replay.info && !connected && !replay.busy) {
      requestState();
    }
    replay.lastFrame = t;
  }
}());
