// The board's page: the desk's state as it is pushed, its alarms, the messages as an operator
// reads them, the history, reprints. The page trades the key it was opened with for a session
// of its own, keeps that in this browser's storage for this address and port alone (so it
// outlives a browser restart until the session's end), sends it with every request, and takes
// the key out of the address at once.
'use strict';

const $ = (id) => document.getElementById(id);

const kSessionKey = 'quillmark-board-session';
const kWhoKey = 'quillmark-board-who';
// An alarm sounds again this often until someone acknowledges it.
const kAlarmRepeatMs = 30000;

let session = localStorage.getItem(kSessionKey) || '';
let who = JSON.parse(localStorage.getItem(kWhoKey) || 'null');
if (session && (!who || Date.now() >= who.ends)) forget();

function forget() {
  localStorage.removeItem(kSessionKey);
  localStorage.removeItem(kWhoKey);
  session = '';
  who = null;
}

// Trades the key in the address (the first visit) for a session.
async function openSession() {
  const params = new URLSearchParams(location.search);
  const key = params.get('key') || params.get('token');
  if (!key) return;
  params.delete('key');
  params.delete('token');
  history.replaceState(null, '', '/' + (params.toString() ? '?' + params : ''));
  const answer = await fetch('/api/session', { method: 'POST', headers: { Authorization: 'Bearer ' + key } });
  if (!answer.ok) {
    $('nokey-why').textContent = 'The address you opened holds a key this desk does not know (revoked, or mistyped).';
    return;
  }
  const made = await answer.json();
  forget();
  session = made.session;
  who = { name: made.name, canAct: made.canAct, ends: Date.now() + made.hours * 3600 * 1000 };
  localStorage.setItem(kSessionKey, session);
  localStorage.setItem(kWhoKey, JSON.stringify(who));
}

function showNoKey(why) {
  $('board').hidden = true;
  $('nokey').hidden = false;
  if (why) $('nokey-why').textContent = why;
  $('link').textContent = 'no key';
  $('link').className = 'badge bad';
  $('health').hidden = true;
}

// The session ended (its time, its key revoked, or a new start of the desk).
function sessionEnded() {
  forget();
  showNoKey('Your session has ended: its time is up, its key was revoked, or the desk started again.');
}

async function ask(path, options = {}) {
  const headers = new Headers(options.headers || {});
  headers.set('Authorization', 'Bearer ' + session);
  const answer = await fetch(path, { ...options, headers, cache: 'no-store' });
  if (answer.status === 401) sessionEnded();
  return answer;
}

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function cell(row, text) {
  const td = element('td', '', text);
  row.appendChild(td);
  return td;
}

function pad(n) {
  return String(n).padStart(2, '0');
}

// "14:05:33 (19:05:33 UTC)", with the day when it is not today's.
function localAndUtc(iso) {
  const t = new Date(iso);
  if (isNaN(t)) return iso || '';
  const today = new Date().toDateString() === t.toDateString();
  const local = (today ? '' : t.toLocaleDateString() + ' ') + t.toLocaleTimeString();
  return `${local} (${pad(t.getUTCHours())}:${pad(t.getUTCMinutes())}:${pad(t.getUTCSeconds())} UTC)`;
}

const kLevelWords = { well: 'All well', degraded: 'Degraded', down: 'Down' };

function showHealth(health) {
  const level = health.level || 'well';
  $('health').hidden = false;
  $('health').textContent = kLevelWords[level] || level;
  $('health').className = 'badge ' + (level === 'well' ? 'ok' : level === 'down' ? 'bad' : 'warn');
  $('health-word').textContent = kLevelWords[level] || level;
  $('health-word').className = level === 'well' ? '' : 'problem';
  const parts = $('health-parts');
  parts.replaceChildren();
  for (const p of health.parts || [])
    parts.appendChild(element('li', 'problem', `${p.what} — since ${localAndUtc(p.since)}`));
  if (!(health.parts || []).length) parts.appendChild(element('li', '', 'Every part of the desk is well.'));
}

// The alarms not yet acknowledged, sounded and notified while they stand.
let alarmsShown = new Set();
let audio = null;
let lastSounded = 0;

function sound() {
  if (!audio || audio.state !== 'running') return;
  const now = audio.currentTime;
  for (const [at, pitch] of [[0, 880], [0.25, 660], [0.5, 880]]) {
    const tone = audio.createOscillator();
    const gain = audio.createGain();
    tone.frequency.value = pitch;
    gain.gain.setValueAtTime(0.3, now + at);
    gain.gain.exponentialRampToValueAtTime(0.001, now + at + 0.22);
    tone.connect(gain).connect(audio.destination);
    tone.start(now + at);
    tone.stop(now + at + 0.23);
  }
  lastSounded = Date.now();
}

function showAlarms(alarms) {
  $('alarms-section').hidden = !alarms.length;
  const list = $('alarms');
  list.replaceChildren();
  const fresh = [];
  for (const a of alarms) {
    const li = element('li', 'alarm');
    li.appendChild(element('strong', '', `${a.from} → ${a.to}`));
    li.appendChild(element('span', 'kind', ` ${a.kind} `));
    li.appendChild(element('span', 'text', a.text));
    li.appendChild(element('span', 'when', ` since ${localAndUtc(a.since)}`));
    if (who && who.canAct) {
      const b = element('button', 'acting', 'Acknowledge');
      b.type = 'button';
      b.addEventListener('click', () => acknowledge({ id: a.id }));
      li.appendChild(b);
    }
    list.appendChild(li);
    if (!alarmsShown.has(a.id)) fresh.push(a);
  }
  alarmsShown = new Set(alarms.map((a) => a.id));
  if (fresh.length || (alarms.length && Date.now() - lastSounded >= kAlarmRepeatMs)) sound();
  if ('Notification' in window && Notification.permission === 'granted')
    for (const a of fresh) new Notification(`Quillmark alarm: ${a.from} → ${a.to}`, { body: a.text, tag: 'qm-' + a.id });
}

setInterval(() => { if (alarmsShown.size && Date.now() - lastSounded >= kAlarmRepeatMs) sound(); }, 1000);

async function acknowledge(which) {
  const answer = await ask('/api/alarms/acknowledge', {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(which) });
  const text = (await answer.text()).trim();
  $('ack-result').textContent = answer.ok ? '' : text;
  $('ack-result').className = answer.ok ? '' : 'problem';
}

// What the desk sent and where each stands, newest first; an acting key sends from here.
function showSent(sent) {
  const list = $('sent');
  list.replaceChildren();
  for (const m of [...sent].reverse()) {
    const li = element('li', 'sent ' + m.state.replace(' ', '-'));
    li.appendChild(element('strong', '', `${m.number} → ${m.to}`));
    li.appendChild(element('span', 'text', ' ' + m.text));
    li.appendChild(element('span', 'when', ' — ' + m.stateText));
    if (m.state === 'sending' && who && who.canAct) {
      const stop = element('button', 'acting', 'Stop');
      stop.type = 'button';
      stop.addEventListener('click', () => stopSending(m.number));
      li.appendChild(stop);
    }
    list.appendChild(li);
  }
  $('sent-section').hidden = !sent.length && !(who && who.canAct);
}

// The desk stops resending a message; the next state shows it ended.
async function stopSending(number) {
  const answer = await ask(`/api/sent/${encodeURIComponent(number)}/cancel`, { method: 'POST' });
  let text = (await answer.text()).trim();
  try { text = JSON.parse(text).error || text; } catch (e) { /* plain text */ }
  $('send-result').textContent = answer.ok ? `Stopped number ${number}` : text;
  $('send-result').className = answer.ok ? '' : 'problem';
}

async function sendMessage(event) {
  event.preventDefault();
  const answer = await ask('/api/send', {
    method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ to: $('send-to').value.trim().toUpperCase(), text: $('send-text').value }) });
  let text = (await answer.text()).trim();
  let number = '';
  try { const j = JSON.parse(text); number = j.number || ''; text = j.error || text; } catch (e) { /* plain text */ }
  $('send-result').textContent = answer.ok ? `Sent as number ${number}` : text;
  $('send-result').className = answer.ok ? '' : 'problem';
  if (answer.ok) $('send-text').value = '';
}

function replyTo(call) {
  $('sent-section').hidden = false;
  $('send-to').value = call;
  $('send-text').focus();
  $('sent-section').scrollIntoView();
}

// An NWS alert's words beside its lines, when the message is one.
function nwsWords(nws) {
  const p = element('p', 'nws' + (nws.expired ? ' expired' : ''));
  p.textContent = [nws.words || nws.event, (nws.areas || []).join(', '),
    nws.expires ? (nws.expired ? 'expired ' : 'until ') + localAndUtc(nws.expires) : ''].filter(Boolean).join(' · ');
  return p;
}

// A listed message as an operator reads it, its page lines one click away.
function messageCard(e) {
  const m = e.message;
  const card = element('article', 'entry' + (e.printing ? ' printing' : ''));
  card.dataset.id = e.id;
  if (m) {
    const head = element('p', 'head');
    head.appendChild(element('strong', 'from', m.from));
    head.appendChild(document.createTextNode(' → '));
    head.appendChild(element('strong', 'to', m.to));
    head.appendChild(element('span', 'kind', m.kind));
    card.appendChild(head);
    card.appendChild(element('p', 'text', m.text));
    if (m.nws) card.appendChild(nwsWords(m.nws));
    const facts = [m.utc ? `${m.local} (${m.utc} UTC)` : ''];
    if (m.answered) facts.push(m.answered);
    if (m.acknowledged_by) facts.push(`Acknowledged by ${m.acknowledged_by}` +
        (m.acknowledged_utc ? ' at ' + localAndUtc(m.acknowledged_utc) : ''));
    if (e.printing) facts.push('printing');
    card.appendChild(element('p', 'facts', facts.filter(Boolean).join(' · ')));
    if (m.kind === 'Personal' && who && who.canAct) {
      const reply = element('button', 'acting reply', 'Reply');
      reply.type = 'button';
      reply.addEventListener('click', () => replyTo(m.from));
      card.appendChild(reply);
    }
  }
  const lines = element('details', 'page-lines');
  lines.appendChild(element('summary', '', m ? 'As on the page' : e.lines[0]));
  lines.appendChild(element('pre', 'lines', e.lines.join('\n')));
  if (!m) lines.open = true;
  card.appendChild(lines);
  return card;
}

function showState(state) {
  $('board').hidden = false;
  $('nokey').hidden = true;
  showHealth(state.health || {});
  showAlarms(state.alarms || []);
  showSent(state.sent || []);
  const sources = $('sources').tBodies[0];
  sources.replaceChildren();
  for (const s of state.sources || []) {
    const row = sources.insertRow();
    if (s.down) row.className = 'down';
    cell(row, s.name || '(none)');
    cell(row, s.state);
    cell(row, String(s.packets));
    cell(row, s.lastHeard || '—');
  }
  const printer = state.printer || {};
  const problems = printer.problems || [];
  $('printer').textContent = (printer.name || 'the system default') + ': ' +
      (problems.length ? problems.join('; ') : 'ready') +
      (printer.waitingJobs ? ` (${printer.waitingJobs} job(s) with the spooler)` : '');
  $('printer').className = problems.length ? 'problem' : '';
  $('last-page').textContent = printer.lastPage
    ? printer.lastPage + (printer.lastPageUtc ? ', ' + localAndUtc(printer.lastPageUtc) : '') : '—';
  const store = state.store || {};
  $('store').textContent = store.file ? store.file + (store.failing ? ' (failing)' : '') : 'not open';
  $('store').className = store.failing ? 'problem' : '';
  $('log').textContent = (state.log || {}).file || 'not running';
  $('failure').textContent = state.failure || '—';
  $('count').textContent = state.count || '';
  const entries = $('entries');
  const open = new Set([...entries.querySelectorAll('details[open]')].map((d) => d.closest('.entry').dataset.id));
  entries.replaceChildren();
  // Newest first: what came last is read first.
  for (const e of [...(state.entries || [])].reverse()) {
    const card = messageCard(e);
    if (open.has(String(e.id))) card.querySelector('details').open = true;
    entries.appendChild(card);
  }
  $('bulletins-section').hidden = !state.bulletins;
  if (state.bulletins) {
    const list = $('bulletins');
    list.replaceChildren();
    for (const b of state.bulletins)
      list.appendChild(element('li', '', [b.from, b.id, b.text].filter(Boolean).join(' · ')));
  }
  $('pages-section').hidden = !state.archive;
  if (state.archive) showPages();
}

// A page is fetched with the session and handed to the browser as a download.
async function openPage(event, name) {
  event.preventDefault();
  const answer = await ask('/pages/' + encodeURIComponent(name));
  if (!answer.ok) {
    $('result').textContent = (await answer.text()).trim();
    return;
  }
  const url = URL.createObjectURL(await answer.blob());
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

async function showPages() {
  const answer = await ask('/api/pages');
  if (!answer.ok) return;
  const list = $('pages');
  list.replaceChildren();
  for (const p of (await answer.json()).pages) {
    const li = document.createElement('li');
    const a = element('a', '', p.name);
    a.href = '#';
    a.addEventListener('click', (event) => openPage(event, p.name));
    li.appendChild(a);
    list.appendChild(li);
  }
}

// Since when the page has not heard the desk; null while it hears it.
let lostSince = null;

function showLink(live) {
  if (live) {
    lostSince = null;
    $('lost').hidden = true;
    $('link').textContent = 'live';
    $('link').className = 'badge ok';
    return;
  }
  lostSince = lostSince || new Date();
  $('lost').hidden = false;
  $('lost').textContent = `The board has lost the desk since ${localAndUtc(lostSince.toISOString())}: ` +
      'what it shows may be out of date. Trying again…';
  $('link').textContent = 'lost';
  $('link').className = 'badge bad';
  $('health').textContent = 'Down: no word from the desk';
  $('health').className = 'badge bad';
}

// One event of the stream ("event: state\ndata: {...}").
function showEvent(block) {
  let name = 'message';
  const data = [];
  for (const line of block.split('\n')) {
    if (line.startsWith('event:')) name = line.slice(6).trim();
    else if (line.startsWith('data:')) data.push(line.slice(5).replace(/^ /, ''));
  }
  if (name !== 'state' || !data.length) return;
  showLink(true);
  showState(JSON.parse(data.join('\n')));
}

// The state as it is pushed, read from a fetch (an EventSource cannot send the session).
async function follow() {
  while (session) {
    try {
      const answer = await ask('/api/events');
      if (answer.status === 401) return;
      if (answer.ok && answer.body) {
        const reader = answer.body.pipeThrough(new TextDecoderStream()).getReader();
        let buffer = '';
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          buffer += value;
          for (let end; (end = buffer.indexOf('\n\n')) >= 0; buffer = buffer.slice(end + 2))
            showEvent(buffer.slice(0, end));
        }
      }
    } catch (e) {
      // The desk ended or the network failed: tried again below.
    }
    if (!session) return;
    showLink(false);
    await new Promise((resolve) => setTimeout(resolve, 2000));
  }
}

// An answer to an earlier question that comes after a later one is dropped.
let question = 0;

async function findHistory(event) {
  if (event) event.preventDefault();
  const asked = ++question;
  const query = new URLSearchParams(new FormData($('history-form')));
  const answer = await ask('/api/history?' + query);
  if (asked !== question) return;
  if (!answer.ok) {
    $('found').textContent = await answer.text();
    return;
  }
  const found = await answer.json();
  if (asked !== question) return;
  const rows = $('history-rows');
  rows.replaceChildren();
  for (const m of found.rows) {
    const row = rows.insertRow();
    row.dataset.id = m.id;
    row.dataset.job = m.job || '';
    const pick = document.createElement('input');
    pick.type = 'checkbox';
    pick.className = 'pick';
    pick.addEventListener('change', () => { if (pick.checked && m.job) $('reprint-job-number').value = m.job; });
    cell(row, '').appendChild(pick);
    const when = cell(row, m.local);
    when.appendChild(element('span', 'utc', m.utc + ' UTC'));
    cell(row, m.from);
    cell(row, m.to);
    cell(row, m.kind);
    const text = cell(row, m.text);
    text.className = 'text';
    if (m.nws) text.appendChild(nwsWords(m.nws));
    cell(row, m.printed);
    cell(row, [m.answered, m.acknowledged_by ? 'Acknowledged by ' + m.acknowledged_by +
      (m.acknowledged_utc ? ' at ' + localAndUtc(m.acknowledged_utc) : '') : ''].filter(Boolean).join('; '));
  }
  $('found').textContent = found.rows.length + (found.more ? '+' : '') + ' found';
}

async function post(path, params) {
  const answer = await ask(path, { method: 'POST', body: params });
  let text = (await answer.text()).trim();
  try { text = JSON.parse(text).error || text; } catch (e) { /* plain text */ }
  $('result').textContent = text;
  $('result').className = answer.ok ? '' : 'problem';
}

function reprintSelected() {
  const params = new URLSearchParams();
  for (const pick of document.querySelectorAll('#history-rows input.pick:checked'))
    params.append('id', pick.closest('tr').dataset.id);
  if (![...params.keys()].length) {
    $('result').textContent = 'Choose the messages to reprint';
    return;
  }
  post('/api/reprint', params);
}

function reprintJob() {
  post('/api/reprint-job', new URLSearchParams({ job: $('reprint-job-number').value.trim() }));
}

function setWall(on) {
  document.body.classList.toggle('wall', on);
  $('wall-toggle').textContent = on ? 'Desk mode' : 'Wall mode';
  const params = new URLSearchParams(location.search);
  if (on) params.set('wall', '1'); else params.delete('wall');
  history.replaceState(null, '', '/' + (params.toString() ? '?' + params : ''));
}

document.addEventListener('DOMContentLoaded', async () => {
  $('history-form').addEventListener('submit', findHistory);
  $('reprint-selected').addEventListener('click', reprintSelected);
  $('reprint-job').addEventListener('click', reprintJob);
  $('ack-all').addEventListener('click', () => acknowledge({}));
  $('send-form').addEventListener('submit', sendMessage);
  $('wall-toggle').addEventListener('click', () => setWall(!document.body.classList.contains('wall')));
  $('sound').addEventListener('click', () => {
    audio = audio || new AudioContext();
    audio.resume().then(() => { $('sound').textContent = 'Sound is on'; sound(); });
  });
  $('notify').hidden = !('Notification' in window) || Notification.permission !== 'default';
  $('notify').addEventListener('click', () => Notification.requestPermission().then(() => { $('notify').hidden = true; }));
  setWall(new URLSearchParams(location.search).get('wall') === '1');
  await openSession().catch(() => {});
  if (!session) return showNoKey();
  $('who').textContent = `${who.name} (${who.canAct ? 'can act' : 'read only'})`;
  document.body.classList.toggle('read-only', !who.canAct);
  ask('/api/state').then((r) => r.json()).then(showState).catch(() => {});
  follow();
  findHistory();
});
