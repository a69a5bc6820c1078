// RackSim's page: the rack drawn from GET /api/rack, polled; inputs changed with PATCH, faults and
// manners with PUT and DELETE; the request log read from the event stream /api/log.
'use strict';

const POLL_MS = 500;
const LOG_LINES = 300;

// The faults a module's switch turns on, by the name its list shows.
const FAULTS = [
  ['lose every request', {drop_fraction: 1}],
  ['replies 500 ms late', {delay_ms: 500}],
  ['wrong CRC', {corrupt_crc: true}],
  ['every reply twice', {answer_twice: true}],
  ['stray packet first', {stray_before_reply: true}],
  ['refuse (status 1)', {refuse_status: 1}],
  ['magic "ZQQ"', {magic_zqq: true}],
];
const AS_DESCRIBED = 'as the rack says';

const state = {
  token: sessionStorage.getItem('racksim-token') || '',
  shape: '',         // the rack's modules and slots the page was drawn for
  manners: [],
  outputs: new Map(),  // module index -> {writes, values: Map(key -> value)}
};

const $ = (id) => document.getElementById(id);

function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v);
  }
  for (const c of children) if (c) e.append(c);
  return e;
}

function headers(body) {
  const h = {};
  if (state.token) h.Authorization = 'Bearer ' + state.token;
  if (body !== undefined) h['Content-Type'] = 'application/json';
  return h;
}

async function api(method, path, body) {
  const res = await fetch(path, {
    method, headers: headers(body),
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const text = await res.text();
  let data = null;
  try { data = JSON.parse(text); } catch (e) { /* not JSON */ }
  if (res.status === 401) $('token-form').hidden = false;
  if (!res.ok) throw new Error((data && data.error) || `${res.status} ${res.statusText}`);
  return data;
}

let messageTimer = 0;
function say(text, bad = false) {
  const m = $('message');
  m.textContent = text;
  m.classList.toggle('bad', bad);
  m.hidden = false;
  clearTimeout(messageTimer);
  messageTimer = setTimeout(() => { m.hidden = true; }, bad ? 6000 : 2500);
}

async function change(method, path, body, done) {
  try {
    await api(method, path, body);
    if (done) say(done);
  } catch (e) {
    say(e.message, true);
  }
  poll(true);
}

const modulePath = (m) => `/api/modules/${m.index}`;

function setInput(m, slot, kind, index, value) {
  return change('PATCH', modulePath(m) + '/inputs',
                {points: [{slot, kind, index, value}]});
}

// ---- drawing --------------------------------------------------------------------------------

function shapeOf(rack) {
  return JSON.stringify(rack.modules.map((m) => [m.name, m.address, m.slots.map((s) => [
    s.slot, s.wired_from, s.inputs.bits.length, s.inputs.words.length, s.inputs.dwords.length,
    s.outputs.bits.length, s.outputs.words.length, s.outputs.dwords.length])]));
}

const KINDS = [['bits', 'bit'], ['words', 'word'], ['dwords', 'dword']];

function inputPoints(m, s) {
  const row = el('div', {class: 'points'});
  for (const [list, kind] of KINDS) {
    const values = s.inputs[list];
    if (!values.length) continue;
    const group = el('div', {class: 'group ' + list});
    values.forEach((v, i) => {
      const key = `${s.slot}/${kind}/${i}`;
      const wired = s.wired_from !== undefined;
      if (kind === 'bit') {
        const b = el('button', {
          class: 'bit', type: 'button', 'data-key': key, text: String(i),
          title: wired ? `mirrors slot ${s.wired_from}'s outputs` : `bit input ${i}: click to flip`,
          onclick: (ev) => setInput(m, s.slot, 'bit', i, ev.currentTarget.classList.contains('on') ? 0 : 1),
        });
        if (wired) b.disabled = true;
        group.append(b);
      } else {
        const input = el('input', {
          class: 'value', type: 'number', 'data-key': key, title: `${kind} input ${i}`,
          min: kind === 'word' ? -32768 : -2147483648, max: kind === 'word' ? 65535 : 4294967295,
        });
        if (wired) input.disabled = true;
        // Sent on Enter or when the field is left, once: the blur after Enter sends nothing.
        const commit = () => {
          if (input.value === '' || input.value === input.dataset.shown) return;
          input.dataset.shown = input.value;
          setInput(m, s.slot, kind, i, Number(input.value));
        };
        input.addEventListener('change', commit);
        input.addEventListener('keydown', (ev) => {
          if (ev.key === 'Enter') { commit(); input.blur(); }
          if (ev.key === 'Escape') { input.value = input.dataset.shown || ''; input.blur(); }
        });
        group.append(el('label', {class: 'word'}, el('small', {text: (kind === 'word' ? 'w' : 'd') + i}), input));
      }
    });
    row.append(group);
  }
  return row;
}

function outputPoints(s) {
  const row = el('div', {class: 'points'});
  for (const [list, kind] of KINDS) {
    const values = s.outputs[list];
    if (!values.length) continue;
    const group = el('div', {class: 'group ' + list});
    values.forEach((v, i) => {
      const key = `${s.slot}/${kind}/${i}`;
      if (kind === 'bit') {
        group.append(el('span', {class: 'lamp', 'data-out': key, title: `bit output ${i}`, text: String(i)}));
      } else {
        group.append(el('label', {class: 'word'}, el('small', {text: (kind === 'word' ? 'w' : 'd') + i}),
                        el('output', {class: 'value', 'data-out': key, title: `${kind} output ${i}`})));
      }
    });
    row.append(group);
  }
  return row;
}

function slotView(m, s) {
  const has = (side) => KINDS.some(([list]) => s[side][list].length);
  const tags = [`kind ${s.record.kind}`, `id 0x${s.record.id.toString(16).toUpperCase().padStart(2, '0')}`];
  if (s.counter) tags.push('counts reads');
  if (s.wired_from !== undefined) tags.push(`inputs ← slot ${s.wired_from} outputs`);
  const box = el('div', {class: 'slot', 'data-slot': s.slot},
                 el('div', {class: 'slot-head'}, el('b', {text: `Slot ${s.slot}`}),
                    el('small', {text: tags.join(' · ')})));
  if (has('inputs')) box.append(el('div', {class: 'side in'}, el('span', {class: 'side-name', text: 'in'}), inputPoints(m, s)));
  if (has('outputs')) box.append(el('div', {class: 'side out'}, el('span', {class: 'side-name', text: 'out'}), outputPoints(s)));
  if (!has('inputs') && !has('outputs')) box.append(el('div', {class: 'none', text: 'no I/O'}));
  return box;
}

function faultControls(m) {
  const toggle = el('input', {type: 'checkbox', class: 'fault-switch', 'aria-label': `fault on ${m.name}`});
  const kind = el('select', {class: 'fault-kind', 'aria-label': `fault of ${m.name}`});
  for (const [name] of FAULTS) kind.append(el('option', {value: name, text: name}));
  kind.append(el('option', {value: AS_DESCRIBED, text: AS_DESCRIBED, hidden: ''}));
  const put = () => {
    const f = FAULTS.find(([name]) => name === kind.value);
    if (f) change('PUT', modulePath(m) + '/faults', {faults: f[1]}, `${m.name}: ${f[0]}`);
  };
  toggle.addEventListener('change', () => {
    if (toggle.checked) put();
    else change('DELETE', modulePath(m) + '/faults', undefined, `${m.name} answers again`);
  });
  kind.addEventListener('change', () => { if (toggle.checked) put(); });
  return el('div', {class: 'fault'},
            el('label', {class: 'switch', title: 'fault on or off'}, toggle, el('span', {class: 'slider'})),
            kind);
}

function mannerControl(m) {
  const select = el('select', {class: 'manner', 'aria-label': `manner of ${m.name}`, title: 'how the module answers'});
  for (const n of state.manners) select.append(el('option', {value: n.name, text: n.name, title: n.what}));
  select.append(el('option', {value: 'custom', text: 'custom', hidden: ''}));
  select.addEventListener('change', () => {
    change('PUT', modulePath(m) + '/manner', {manner: select.value}, `${m.name}: manner ${select.value}`);
  });
  return select;
}

function moduleView(m) {
  const card = el('article', {class: 'module', 'data-module': m.name, 'data-index': m.index});
  card.append(
    el('header', {},
       el('div', {class: 'title'}, el('h2', {text: m.name || `module ${m.index}`}),
          el('span', {class: 'meta', text: `#${m.number} · ${m.kind} · ${m.address}` + (m.controller_module ? ' · controller' : '')})),
       faultControls(m)),
    el('div', {class: 'status-row'}, el('span', {class: 'counters'}),
       el('label', {class: 'manner-label'}, 'manner ', mannerControl(m))));
  const slots = el('div', {class: 'slots'});
  for (const s of m.slots) slots.append(slotView(m, s));
  if (!m.slots.length) slots.append(el('div', {class: 'none', text: 'no slots'}));
  card.append(slots);
  return card;
}

// ---- updating in place ----------------------------------------------------------------------

function sameFaults(a, b) {
  const ka = Object.keys(a), kb = Object.keys(b);
  return ka.length === kb.length && ka.every((k) => a[k] === b[k]);
}

function update(card, m) {
  const c = m.counters;
  card.querySelector('.counters').textContent =
      `${c.requests} requests · ${c.answered} answered · ${c.dropped} lost · ${c.output_writes} writes`;
  const faulty = Object.keys(m.faults).length > 0 || Object.keys(m.faults_by_function).length > 0;
  card.classList.toggle('faulty', faulty);
  card.querySelector('.fault-switch').checked = faulty;
  const kind = card.querySelector('.fault-kind');
  if (faulty) {
    const f = FAULTS.find(([, faults]) => sameFaults(faults, m.faults));
    kind.value = f && !Object.keys(m.faults_by_function).length ? f[0] : AS_DESCRIBED;
  }
  const manner = card.querySelector('.manner');
  if (document.activeElement !== manner) manner.value = m.manner.name;
  manner.title = m.manner.note || 'as each function serves its replies';

  const previous = state.outputs.get(m.index);
  const written = previous && c.output_writes !== previous.writes;
  const values = new Map();
  for (const s of m.slots) {
    for (const [list, kind] of KINDS) {
      s.inputs[list].forEach((v, i) => {
        const e = card.querySelector(`[data-key="${s.slot}/${kind}/${i}"]`);
        if (!e) return;
        if (kind === 'bit') e.classList.toggle('on', v === 1);
        else if (document.activeElement !== e) e.value = e.dataset.shown = String(v);
      });
      s.outputs[list].forEach((v, i) => {
        const key = `${s.slot}/${kind}/${i}`;
        const e = card.querySelector(`[data-out="${key}"]`);
        if (!e) return;
        if (kind === 'bit') e.classList.toggle('on', v === 1);
        else e.textContent = v;
        values.set(key, v);
        // What a host's write changed lights up for a moment.
        if (written && previous.values.get(key) !== v) flash(e);
      });
    }
  }
  if (written) card.querySelectorAll('.side.out').forEach(flash);
  state.outputs.set(m.index, {writes: c.output_writes, values});
}

function flash(e) {
  e.classList.remove('written');
  void e.offsetWidth;  // restarts the animation
  e.classList.add('written');
}

function render(rack) {
  const s = rack.server;
  $('summary').textContent =
      `${rack.modules.length} module${rack.modules.length === 1 ? '' : 's'} · UDP port ${s.udp_port} · ` +
      `${s.received} requests · CRC ${rack.crc ? 'on' : 'off'}`;
  const shape = shapeOf(rack);
  const box = $('modules');
  if (shape !== state.shape) {
    state.shape = shape;
    state.outputs.clear();
    box.replaceChildren(...rack.modules.map(moduleView));
  }
  rack.modules.forEach((m, i) => update(box.children[i], m));
}

// Polls every POLL_MS; poll(true) refreshes at once after a change, outside that round.
let polling = false;
async function poll(now = false) {
  if (polling) {
    if (!now) setTimeout(poll, POLL_MS);  // the round goes on after a refresh in progress
    return;
  }
  polling = true;
  try {
    render(await api('GET', '/api/rack'));
    $('status').textContent = 'live';
    $('status').className = 'status ok';
  } catch (e) {
    $('status').textContent = e.message;
    $('status').className = 'status bad';
  } finally {
    polling = false;
  }
  if (!now) setTimeout(poll, POLL_MS);
}

// ---- the request log ------------------------------------------------------------------------

function addLogLine(text) {
  const log = $('log');
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 8;
  // "sender -> what the module did": the sender drawn quieter.
  const cut = text.indexOf(' -> ');
  log.append(cut < 0 ? el('li', {text})
                     : el('li', {}, el('span', {class: 'from', text: text.slice(0, cut + 4)}), text.slice(cut + 4)));
  while (log.children.length > LOG_LINES) log.firstChild.remove();
  if (atEnd) log.scrollTop = log.scrollHeight;
}

async function watchLog() {
  let after = 0;
  for (;;) {
    try {
      const res = await fetch('/api/log?after=' + after, {headers: headers()});
      if (!res.ok) {
        const data = await res.json().catch(() => ({}));
        throw new Error(data.error || res.statusText);
      }
      $('log-state').textContent = 'live';
      const reader = res.body.getReader();
      const decoder = new TextDecoder();
      let buffer = '';
      for (;;) {
        const {value, done} = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, {stream: true});
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          const event = buffer.slice(0, end);
          buffer = buffer.slice(end + 2);
          let data = null;
          for (const line of event.split('\n')) {
            if (line.startsWith('id: ')) after = Number(line.slice(4));
            else if (line.startsWith('data: ')) data = line.slice(6);
          }
          if (data !== null) addLogLine(data);
        }
      }
      $('log-state').textContent = 'ended';
    } catch (e) {
      $('log-state').textContent = e.message;
    }
    await new Promise((r) => setTimeout(r, 2000));
  }
}

// ---- start ----------------------------------------------------------------------------------

$('token-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  state.token = $('token').value;
  sessionStorage.setItem('racksim-token', state.token);
  $('token-form').hidden = true;
  start();
});

let started = false;
async function start() {
  try {
    state.manners = await api('GET', '/api/manners');
  } catch (e) {
    $('status').textContent = e.message;
    $('status').className = 'status bad';
    return;
  }
  if (started) return;
  started = true;
  poll();
  watchLog();
}
start();
