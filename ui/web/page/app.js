'use strict';
// The station's web view: login, the Objects with their state, their
// cameras' latest pictures (pushed over the WebSocket) and the journal.
const $ = (id) => document.getElementById(id);
let me = null;
let socket = null;
const pictureUrls = {};

async function api(path, options = {}) {
  const headers = Object.assign({'X-Zorvenix': '1'}, options.headers || {});
  const r = await fetch(path, Object.assign({credentials: 'same-origin'}, options, {headers}));
  let body = {};
  try { body = await r.json(); } catch (e) { /* not JSON */ }
  return {status: r.status, body};
}

function showLogin(message) {
  me = null;
  if (socket) { socket.onclose = null; socket.close(); socket = null; }
  $('main').hidden = true;
  $('logout').hidden = true;
  $('who').textContent = '';
  $('login').hidden = false;
  $('login-error').textContent = message || '';
}

async function showMain(session) {
  me = session;
  $('login').hidden = true;
  $('main').hidden = false;
  $('logout').hidden = false;
  $('who').textContent = session.user;
  const objects = await api('/api/objects');
  if (objects.status === 401) return showLogin('Сеанс завершён, войдите снова');
  renderObjects(objects.body.objects || []);
  const journal = await api('/api/journal');
  renderJournal(journal.body.lines || []);
  connectSocket();
}

function bits(mask, names) {
  const out = [];
  for (let i = 0; i < 8; i++) if (mask & (1 << i)) out.push(names[i] || ('№' + (i + 1)));
  return out;
}

function objectCard(o) {
  let card = document.querySelector(`.object[data-id="${o.id}"]`);
  if (!card) {
    card = document.createElement('article');
    card.className = 'object';
    card.dataset.id = o.id;
    card.innerHTML = '<h3></h3><div class="state"></div><div class="details"></div>' +
                     '<div class="cams"></div><div class="actions"></div>';
    $('objects').appendChild(card);
  }
  return card;
}

function renderObjects(list) {
  const seen = new Set();
  for (const o of list) {
    seen.add(String(o.id));
    const card = objectCard(o);
    const gauges = bits(o.gauges_alarm & o.gauges_enabled, o.gauges || []);
    const cams = bits(o.cameras_alarm, (o.cameras || []).map((c) => c.name));
    const alarm = o.armed && (gauges.length > 0 || cams.length > 0);
    card.classList.toggle('armed', o.armed);
    card.classList.toggle('alarm', alarm);
    card.querySelector('h3').textContent = `№${o.id} ${o.name}`;
    let state = o.armed ? 'Под охраной' : 'Снят с охраны';
    if (gauges.length) state += ' — сработка: ' + gauges.join(', ');
    if (cams.length) state += ' — движение: ' + cams.join(', ');
    card.querySelector('.state').textContent = state;
    const details = [];
    details.push(o.connected ? (o.protected_link ? 'Связь: защищённая' : 'Связь: есть')
                             : 'Связи нет');
    if (o.last_seen) details.push('Последний сигнал: ' + o.last_seen.replace('T', ' ').slice(0, 19));
    if (o.service_call_overdue) details.push('Не поступил служебный звонок');
    card.querySelector('.details').textContent = details.join(' · ');
    const camsBox = card.querySelector('.cams');
    for (const c of o.cameras || []) {
      let img = camsBox.querySelector(`img[data-camera="${c.index}"]`);
      if (!img) {
        const fig = document.createElement('figure');
        fig.className = 'cam';
        img = document.createElement('img');
        img.dataset.object = o.id;
        img.dataset.camera = c.index;
        img.dataset.serial = '0';
        img.alt = c.name;
        img.src = `/api/objects/${o.id}/cameras/${c.index}/picture`;
        const cap = document.createElement('figcaption');
        fig.append(img, cap);
        camsBox.appendChild(fig);
      }
      img.parentElement.querySelector('figcaption').textContent = c.name;
    }
    const actions = card.querySelector('.actions');
    actions.textContent = '';
    if (me && me.canArm) {
      const b = document.createElement('button');
      b.textContent = o.armed ? 'Снять с охраны' : 'Поставить на охрану';
      b.onclick = async () => {
        const r = await api(`/api/objects/${o.id}/${o.armed ? 'disarm' : 'arm'}`, {method: 'POST'});
        if (r.status !== 200) alert(r.body.error || 'Команда не выполнена');
      };
      actions.appendChild(b);
    }
  }
  for (const card of document.querySelectorAll('.object'))
    if (!seen.has(card.dataset.id)) card.remove();
}

function renderJournal(lines) {
  const box = $('journal');
  box.textContent = '';
  for (const l of lines.slice().reverse()) {
    const li = document.createElement('li');
    li.className = 'k' + l.kind;
    li.textContent = l.text;
    box.appendChild(li);
  }
}

function showPicture(buffer) {
  const v = new DataView(buffer);
  if (buffer.byteLength < 12 || v.getUint32(0) !== 0x5A565031) return;  // "ZVP1"
  const id = v.getUint32(4, true), cam = v.getUint32(8, true);
  const img = document.querySelector(`img[data-object="${id}"][data-camera="${cam}"]`);
  if (!img) return;
  const key = id + ':' + cam;
  const url = URL.createObjectURL(new Blob([buffer.slice(12)], {type: 'image/jpeg'}));
  img.onload = () => {
    if (pictureUrls[key] && pictureUrls[key] !== url) URL.revokeObjectURL(pictureUrls[key]);
    pictureUrls[key] = url;
    img.dataset.serial = String(Number(img.dataset.serial) + 1);
  };
  img.src = url;
}

async function connectSocket() {
  if (!me) return;
  const t = await api('/api/ticket', {method: 'POST'});
  if (t.status === 401) return showLogin('Сеанс завершён, войдите снова');
  if (t.status !== 200) { setTimeout(connectSocket, 3000); return; }
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  socket = new WebSocket(`${scheme}//${location.host}/ws?ticket=${t.body.ticket}`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => { $('link-state').textContent = 'Обновляется автоматически'; };
  socket.onmessage = (ev) => {
    if (typeof ev.data !== 'string') return showPicture(ev.data);
    const m = JSON.parse(ev.data);
    if (m.type === 'objects') renderObjects(m.objects);
    else if (m.type === 'journal') renderJournal(m.lines);
  };
  socket.onclose = () => {
    socket = null;
    $('link-state').textContent = 'Нет связи со станцией, повторяю…';
    setTimeout(async () => {
      const s = await api('/api/session');
      if (s.status === 200) connectSocket(); else showLogin('Сеанс завершён, войдите снова');
    }, 2000);
  };
}

$('login').addEventListener('submit', async (ev) => {
  ev.preventDefault();
  $('login-error').textContent = '';
  const r = await api('/api/login', {
    method: 'POST',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({user: $('user').value, password: $('password').value}),
  });
  $('password').value = '';
  if (r.status === 200) showMain(r.body);
  else $('login-error').textContent = r.body.error || 'Вход не выполнен';
});

$('logout').addEventListener('click', async () => {
  await api('/api/logout', {method: 'POST'});
  showLogin('');
});

(async () => {
  const s = await api('/api/session');
  if (s.status === 200) showMain(s.body); else showLogin('');
})();
