// The board's page: the desk's state as it is pushed, the history, reprints.
'use strict';

const $ = (id) => document.getElementById(id);

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

async function showPages() {
  const answer = await fetch('/api/pages');
  if (!answer.ok) return;
  const list = $('pages');
  list.replaceChildren();
  for (const p of (await answer.json()).pages) {
    const li = document.createElement('li');
    const a = document.createElement('a');
    a.href = '/pages/' + encodeURIComponent(p.name);
    a.textContent = p.name;
    li.appendChild(a);
    list.appendChild(li);
  }
}

function follow() {
  const events = new EventSource('/api/events');
  events.addEventListener('state', (e) => {
    $('link').textContent = 'live';
    $('link').className = 'badge ok';
    showState(JSON.parse(e.data));
  });
  events.onerror = () => {
    $('link').textContent = 'reconnecting…';
    $('link').className = 'badge bad';
  };
}

// An answer to an earlier question that comes after a later one is dropped.
let question = 0;

async function findHistory(event) {
  if (event) event.preventDefault();
  const asked = ++question;
  const query = new URLSearchParams(new FormData($('history-form')));
  const answer = await fetch('/api/history?' + query);
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
  const answer = await fetch(path, { method: 'POST', body: params });
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

document.addEventListener('DOMContentLoaded', () => {
  $('history-form').addEventListener('submit', findHistory);
  $('reprint-selected').addEventListener('click', reprintSelected);
  $('reprint-job').addEventListener('click', reprintJob);
  fetch('/api/state').then((r) => r.json()).then(showState).catch(() => {});
  follow();
  findHistory();
});
