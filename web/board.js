// The board's page: the desk's state as it is pushed, the history, reprints. The page keeps
// its session in this tab's storage, which belongs to this address and port alone, and sends
// it with every request; the token it came with leaves the address at once.
'use strict';

const $ = (id) => document.getElementById(id);

const kSessionKey = 'quillmark-board-session';
let session = sessionStorage.getItem(kSessionKey) || '';

// Trades the token in the address (the first visit) for this run's session.
async function openSession() {
  const token = new URLSearchParams(location.search).get('token');
  if (!token) return;
  history.replaceState(null, '', '/');
  const answer = await fetch('/api/session', { method: 'POST', headers: { Authorization: 'Bearer ' + token } });
  if (!answer.ok) return;
  session = (await answer.json()).session;
  sessionStorage.setItem(kSessionKey, session);
}

// The session ended with the run it was made for: a new start needs the address again.
function sessionEnded() {
  sessionStorage.removeItem(kSessionKey);
  session = '';
  $('link').textContent = 'no session: open the address quillmark --status shows';
  $('link').className = 'badge bad';
}

async function ask(path, options = {}) {
  const headers = new Headers(options.headers || {});
  headers.set('Authorization', 'Bearer ' + session);
  const answer = await fetch(path, { ...options, headers, cache: 'no-store' });
  if (answer.status === 401) sessionEnded();
  return answer;
}

function cell(row, text) {
  const td = document.createElement('td');
  td.textContent = text;
  row.appendChild(td);
  return td;
}

function showState(state) {
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
  $('last-page').textContent = printer.lastPage || '—';
  const store = state.store || {};
  $('store').textContent = store.file ? store.file + (store.failing ? ' (failing)' : '') : 'not open';
  $('store').className = store.failing ? 'problem' : '';
  $('log').textContent = (state.log || {}).file || 'not running';
  $('failure').textContent = state.failure || '—';
  $('count').textContent = state.count || '';
  const entries = $('entries');
  entries.replaceChildren();
  for (const e of state.entries || []) {
    const div = document.createElement('div');
    div.className = 'entry' + (e.printing ? ' printing' : '');
    div.dataset.id = e.id;
    div.textContent = e.lines.join('\n');
    entries.appendChild(div);
  }
  entries.scrollTop = entries.scrollHeight;
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
    const a = document.createElement('a');
    a.href = '#';
    a.textContent = p.name;
    a.addEventListener('click', (event) => openPage(event, p.name));
    li.appendChild(a);
    list.appendChild(li);
  }
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
  $('link').textContent = 'live';
  $('link').className = 'badge ok';
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
    $('link').textContent = 'reconnecting…';
    $('link').className = 'badge bad';
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
    cell(row, m.utc);
    cell(row, m.from);
    cell(row, m.to);
    cell(row, m.kind);
    cell(row, m.text);
    cell(row, m.printed);
  }
  $('found').textContent = found.rows.length + (found.more ? '+' : '') + ' found';
}

async function post(path, params) {
  const answer = await ask(path, { method: 'POST', body: params });
  $('result').textContent = (await answer.text()).trim();
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

document.addEventListener('DOMContentLoaded', async () => {
  $('history-form').addEventListener('submit', findHistory);
  $('reprint-selected').addEventListener('click', reprintSelected);
  $('reprint-job').addEventListener('click', reprintJob);
  await openSession().catch(() => {});
  if (!session) return sessionEnded();
  ask('/api/state').then((r) => r.json()).then(showState).catch(() => {});
  follow();
  findHistory();
});
