// The sticker maker's page: reads the service's tables from /v1/presets,
// asks /v1/render for a preview as the choices change, and plays the very
// file the service made, which is what 下载, 复制 and 分享 hand on.
'use strict';

const $ = (id) => document.getElementById(id);
const TOKEN_KEY = 'quillow-token';
const TYPING_PAUSE_MS = 250;
const LONGEST_RETRY_WAIT_S = 10;
const SLOW_RENDER_MS = 400;

const state = {
  catalogue: null,
  seed: newSeed(),
  timer: 0,
  controller: null,
  shown: null, // { blob, url, name, headers, video, asked }
  firstShown: false,
  showing: 0, // counts the files handed to the preview; only the latest may show
  urls: [], // blob: addresses made and not yet given back
};

function newSeed() {
  const value = new Uint32Array(1);
  crypto.getRandomValues(value);
  return value[0];
}

function preset() {
  return state.catalogue.presets.find((p) => p.name === $('preset').value);
}

function effect() {
  return state.catalogue.effects.find((e) => e.name === $('effect').value);
}

function format(name) {
  return state.catalogue.formats.find((f) => f.name === name);
}

function checked(name) {
  return document.querySelector(`input[name="${name}"]:checked`).value;
}

// --- the phrase box ---------------------------------------------------------

// The service takes at most ten UTF-16 code units, as the window's box does;
// the box's maxlength counts the same units. A cut that leaves half an
// emoji sequence (a dangling joiner, one letter of a flag) drops that half.
function trimPhrase() {
  const box = $('phrase');
  const limit = state.catalogue ? state.catalogue.maxPhraseLength : 10;
  let text = box.value;
  if (text.length >= limit && 'Segmenter' in Intl) {
    const parts = [...new Intl.Segmenter('zh', { granularity: 'grapheme' }).segment(text)];
    const last = parts.length ? parts[parts.length - 1].segment : '';
    const codePoints = [...last];
    const flagHalf = codePoints.length === 1 && /\p{Regional_Indicator}/u.test(last);
    if (last.endsWith('\u200d') || flagHalf) text = text.slice(0, text.length - last.length);
  }
  if (text !== box.value) box.value = text;
  $('phrase-count').textContent = `${text.length}/${limit}`;
}

// --- the choices ------------------------------------------------------------

function fillChoices() {
  $('phrase').maxLength = state.catalogue.maxPhraseLength;
  const presetBox = $('preset');
  for (const p of state.catalogue.presets) presetBox.add(new Option(p.label, p.name));
  // The first chat rather than no preset: a sticker is what people come for.
  presetBox.selectedIndex = Math.min(1, presetBox.options.length - 1);
  const effectBox = $('effect');
  for (const e of state.catalogue.effects) effectBox.add(new Option(e.label, e.name));
  followPreset();
}

function capText(kind) {
  if (kind.capText) return kind.capText;
  return kind.capBytes ? `${Math.floor(kind.capBytes / 1000)} KB` : '';
}

// "静态 WebP，最长边 512 像素，不超过 100 KB": what a chat takes of one kind.
function kindText(name, kind) {
  const facts = [kind.formats.map((n) => format(n).label).join('、')];
  if (kind.side) facts.push(`最长边 ${kind.side} 像素`);
  if (capText(kind)) facts.push(`不超过 ${capText(kind)}`);
  return `${name} ${facts.join('，')}`;
}

// What the chosen chat allows: only the effects it takes, and a line
// saying what it takes.
function followPreset() {
  const p = preset();
  const moving = p.animated.formats.length > 0;
  const kinds = [kindText('静态', p.still), moving ? kindText('动画', p.animated) : '不收动画'];
  $('preset-hint').textContent = `${kinds.join('；')}。`;
  const effectBox = $('effect');
  for (const option of effectBox.options) option.disabled = !(option.value in p.formatFor);
  if (!(effectBox.value in p.formatFor)) effectBox.value = state.catalogue.effects[0].name;
  $('effect-hint').hidden = moving;
  $('effect-hint').textContent = moving ? '' : p.animatedRefusal || '这个聊天软件不收动画贴纸。';
}

function query() {
  const p = preset();
  const e = effect();
  const q = new URLSearchParams();
  q.set('phrase', $('phrase').value);
  if (p.name) q.set('preset', p.name);
  // The format the window and the command line choose for this chat and
  // effect, named outright so that any service makes the same file.
  if (p.formatFor[e.name]) q.set('format', p.formatFor[e.name]);
  q.set('effect', e.name);
  const colours = checked('colours');
  q.set('colours', colours);
  if (colours === 'gradient') {
    q.set('start', $('start').value.toUpperCase());
    q.set('end', $('end').value.toUpperCase());
  }
  // Always a seed: the same choices give the same file, which the browser
  // and the service may then keep.
  q.set('seed', String(state.seed));
  if ($('bold').checked) q.set('bold', 'true');
  if ($('italic').checked) q.set('italic', 'true');
  if ($('readable').checked) q.set('look', 'readable');
  if ($('rows').value) q.set('rows', $('rows').value);
  return q;
}

// --- errors -----------------------------------------------------------------

// Where the service's message goes for each key it names; anything else
// shows under the preview.
const ERROR_PLACES = {
  phrase: 'phrase', preset: 'preset', format: 'preset', effect: 'effect',
  colours: 'colours', start: 'colours', end: 'colours', seed: 'colours',
  bold: 'style', italic: 'style', look: 'style', outline: 'style', rows: 'rows',
};
const ERROR_CONTROLS = { phrase: 'phrase', preset: 'preset', effect: 'effect', rows: 'rows' };

function clearErrors() {
  for (const place of new Set(Object.values(ERROR_PLACES))) {
    const box = $(`${place}-error`);
    box.hidden = true;
    box.textContent = '';
    const control = ERROR_CONTROLS[place];
    if (control) $(control).removeAttribute('aria-invalid');
  }
}

function showError(message, key) {
  const place = ERROR_PLACES[key];
  if (!place) {
    say(message, true);
    return;
  }
  const box = $(`${place}-error`);
  box.textContent = message;
  box.hidden = false;
  if (ERROR_CONTROLS[place]) $(ERROR_CONTROLS[place]).setAttribute('aria-invalid', 'true');
  say('没有生成：请看标红的说明。', true);
}

function say(message, problem = false) {
  const status = $('status');
  status.textContent = message;
  status.classList.toggle('problem', problem);
}

// --- talking to the service -------------------------------------------------

function headersWithToken() {
  const token = sessionStorage.getItem(TOKEN_KEY);
  return token ? { Authorization: `Bearer ${token}` } : {};
}

function pause(seconds, signal) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(resolve, seconds * 1000);
    signal.addEventListener('abort', () => {
      clearTimeout(timer);
      reject(new DOMException('aborted', 'AbortError'));
    }, { once: true });
  });
}

// A full queue says when to come back: once, then the page says so.
// `onWait` is told before the page waits.
async function fetchRetryingOnce(url, signal, onWait) {
  let response = await fetch(url, { headers: headersWithToken(), signal });
  if (response.status === 429) {
    const wait = Number.parseFloat(response.headers.get('Retry-After'));
    onWait();
    await pause(Number.isFinite(wait) ? Math.min(Math.max(wait, 0), LONGEST_RETRY_WAIT_S) : 1, signal);
    response = await fetch(url, { headers: headersWithToken(), signal });
  }
  return response;
}

function schedule(delay) {
  clearTimeout(state.timer);
  state.timer = setTimeout(render, delay);
}

async function render() {
  if (state.controller) state.controller.abort();
  if (!state.catalogue) return;
  if (!$('phrase').value.trim()) {
    clearErrors();
    say('请输入要喊的话。');
    return;
  }
  const controller = new AbortController();
  state.controller = controller;
  $('stage').setAttribute('aria-busy', 'true');
  // A moving sticker can take seconds: say so, rather than leave the old
  // one looking like the answer.
  const slow = setTimeout(() => {
    if (state.controller === controller) say('正在生成…');
  }, SLOW_RENDER_MS);
  try {
    const asked = query();
    const response = await fetchRetryingOnce(`/v1/render?${asked}`, controller.signal, () => {
      clearTimeout(slow);
      say('服务正忙，稍后自动重试…');
    });
    if (response.status === 401) {
      askForToken();
      return;
    }
    if (!response.ok) {
      const body = await response.json().catch(() => ({}));
      clearErrors();
      if (response.status === 429) say('服务正忙，请稍后再改一下选项重试。', true);
      else showError(body.error || `服务回答 ${response.status}。`, body.key);
      return;
    }
    const blob = await response.blob();
    if (controller.signal.aborted) return;
    clearErrors();
    say('');
    show(blob, response.headers, asked);
  } catch (error) {
    if (error.name === 'AbortError') return;
    say(state.shown ? '连接不上服务：网络可能断开了。下面仍是上一张预览。' : '连接不上服务：网络可能断开了。', true);
  } finally {
    clearTimeout(slow);
    if (state.controller === controller) {
      state.controller = null;
      $('stage').setAttribute('aria-busy', 'false');
    }
  }
}

function askForToken() {
  const refused = sessionStorage.getItem(TOKEN_KEY) !== null;
  sessionStorage.removeItem(TOKEN_KEY);
  $('token-box').hidden = false;
  say(refused ? '令牌不对：请重新填写。' : '这个服务要求访问令牌：请在上方填写。', true);
  $('token').focus();
}

// --- the preview and its facts ----------------------------------------------

// The file name the service gives, from Content-Disposition.
function fileName(headers, fallback) {
  const disposition = headers.get('Content-Disposition') || '';
  const encoded = /filename\*=UTF-8''([^;]+)/i.exec(disposition);
  if (encoded) {
    try {
      return decodeURIComponent(encoded[1]);
    } catch {
      // fall through to the plain name
    }
  }
  const plain = /filename="([^"]*)"/i.exec(disposition);
  return plain ? plain[1] : fallback;
}

function show(blob, headers, asked) {
  const video = blob.type === 'video/webm';
  const url = URL.createObjectURL(blob);
  state.urls.push(url);
  const name = fileName(headers, `sticker.${(format(headers.get('X-Quillow-Format')) || { suffix: 'png' }).suffix}`);
  state.shown = { blob, url, name, headers, video, asked };
  const picture = $('picture');
  const movie = $('movie');
  const target = video ? movie : picture;
  const mine = ++state.showing;
  const onFailed = () => {
    if (mine === state.showing) say('浏览器无法显示这个文件；仍可下载。', true);
  };
  const onReady = () => {
    target.removeEventListener('error', onFailed);
    if (mine !== state.showing) return;
    picture.hidden = video;
    movie.hidden = !video;
    $('placeholder').hidden = true;
    if (video) {
      picture.removeAttribute('src');
      movie.play().catch(() => {});
    } else {
      movie.removeAttribute('src');
      movie.load();
    }
    for (const made of state.urls) if (made !== url) URL.revokeObjectURL(made);
    state.urls = [url];
    showFacts();
    // What the preview was made from, for anyone checking it against the
    // command line's file.
    $('stage').dataset.shown = asked.toString();
    if (!state.firstShown) {
      state.firstShown = true;
      performance.mark('quillow-first-preview');
    }
  };
  target.addEventListener(video ? 'loadeddata' : 'load', onReady, { once: true });
  target.addEventListener('error', onFailed, { once: true });
  target.src = url;
  picture.alt = video ? '' : `预览：${$('phrase').value}`;
  movie.setAttribute('aria-label', `预览：${$('phrase').value}`);
  const download = $('download');
  download.href = url;
  download.download = name;
  download.removeAttribute('aria-disabled');
  $('copy').disabled = false;
  const share = $('share');
  const file = new File([blob], name, { type: blob.type });
  share.hidden = !(navigator.canShare && navigator.canShare({ files: [file] }));
  share.disabled = share.hidden;
}

// A size in the cap's kind of unit (KiB beside a cap of KiB or MiB), rounded
// down so that a file within its cap never reads as over it.
function sizeText(bytes, binary) {
  const unit = binary ? 1024 : 1000;
  const name = binary ? 'KiB' : 'KB';
  const tenths = Math.floor((bytes * 10) / unit);
  return tenths < 100 ? `${(tenths / 10).toFixed(1)} ${name}` : `${Math.floor(bytes / unit)} ${name}`;
}

// The chat's rules for the sticker a query asked for.
function kindOf(asked) {
  const p = state.catalogue.presets.find((row) => row.name === (asked.get('preset') || ''));
  const e = state.catalogue.effects.find((row) => row.name === asked.get('effect'));
  return p && e ? (e.animates ? p.animated : p.still) : {};
}

function decoded(value) {
  try {
    return decodeURIComponent(value);
  } catch {
    return value;
  }
}

function showFacts() {
  const { blob, headers, video, asked } = state.shown;
  const facts = [];
  const media = video ? $('movie') : $('picture');
  const width = video ? media.videoWidth : media.naturalWidth;
  const height = video ? media.videoHeight : media.naturalHeight;
  if (width) facts.push(['像素', `${width} × ${height}`]);
  const formatRow = format(headers.get('X-Quillow-Format'));
  if (formatRow) facts.push(['格式', formatRow.label]);
  const frames = headers.get('X-Quillow-Frames');
  if (frames) facts.push(['帧数', frames]);
  const bytes = Number(headers.get('X-Quillow-Bytes')) || blob.size;
  const cap = Number(headers.get('X-Quillow-Cap'));
  const kind = kindOf(asked);
  const chatsCap = cap && kind.capBytes === cap && kind.capText;
  const binary = chatsCap ? /iB$/.test(kind.capText) : false;
  let size = sizeText(bytes, binary);
  let over = false;
  if (cap) {
    size += ` / 上限 ${chatsCap ? kind.capText : sizeText(cap, binary)}`;
    over = bytes > cap;
  }
  facts.push(['大小', size, over]);
  // What fitting the cap gave up, where the service says so, and what else
  // the service had to change (a WEBM's length): each percent-encoded, the
  // values of a repeated header joined by commas.
  for (const [header, term] of [['X-Quillow-Fitted', '为满足上限'], ['X-Quillow-Warning', '提示']]) {
    const values = (headers.get(header) || '').split(',').map((value) => decoded(value.trim())).filter(Boolean);
    if (values.length) facts.push([term, values.join('；')]);
  }
  const list = $('facts');
  list.replaceChildren();
  for (const [term, value, problem] of facts) {
    const dt = document.createElement('dt');
    dt.textContent = term;
    const dd = document.createElement('dd');
    dd.textContent = value;
    if (problem) dd.className = 'over';
    list.append(dt, dd);
  }
}

// --- 下载, 复制, 分享 ---------------------------------------------------------

function note(message) {
  $('action-note').textContent = message;
}

// The current frame as a PNG: what a clipboard takes everywhere.
function currentFrameAsPng() {
  const media = state.shown.video ? $('movie') : $('picture');
  const canvas = document.createElement('canvas');
  canvas.width = state.shown.video ? media.videoWidth : media.naturalWidth;
  canvas.height = state.shown.video ? media.videoHeight : media.naturalHeight;
  canvas.getContext('2d').drawImage(media, 0, 0);
  return new Promise((resolve, reject) => {
    canvas.toBlob((png) => (png ? resolve(png) : reject(new Error('toBlob'))), 'image/png');
  });
}

async function copy() {
  if (!state.shown) return;
  if (!window.isSecureContext || !navigator.clipboard || !window.ClipboardItem) {
    note('这个浏览器不允许本页把图片放进剪贴板（需要 HTTPS 或本机地址）：请用“下载”。');
    return;
  }
  const still = state.shown.blob.type === 'image/png';
  try {
    const png = still ? state.shown.blob : await currentFrameAsPng();
    await navigator.clipboard.write([new ClipboardItem({ 'image/png': png })]);
    note(still ? '已复制图片。' : '已复制当前这一帧（剪贴板只收静态 PNG）；要动图请用“下载”或“分享”。');
  } catch {
    note('浏览器拒绝了复制图片：请用“下载”。');
  }
}

async function share() {
  if (!state.shown) return;
  const { blob, name } = state.shown;
  try {
    await navigator.share({ files: [new File([blob], name, { type: blob.type })] });
  } catch (error) {
    if (error.name !== 'AbortError') note('无法打开分享：请用“下载”。');
  }
}

// --- start ------------------------------------------------------------------

function listen() {
  $('token-box').addEventListener('submit', (event) => {
    event.preventDefault();
    const token = $('token').value.trim();
    if (!token) return;
    sessionStorage.setItem(TOKEN_KEY, token);
    $('token').value = '';
    $('token-box').hidden = true;
    say('');
    $('phrase').focus();
    schedule(0);
  });
  // While a Chinese input method composes, the box holds pinyin letters
  // that are not the phrase: the preview waits for the characters chosen.
  const phraseChanged = (event) => {
    if (event.isComposing) return;
    trimPhrase();
    schedule(TYPING_PAUSE_MS);
  };
  $('phrase').addEventListener('input', phraseChanged);
  $('phrase').addEventListener('compositionend', phraseChanged);
  $('preset').addEventListener('change', () => {
    followPreset();
    schedule(0);
  });
  for (const id of ['effect', 'bold', 'italic', 'readable', 'rows']) $(id).addEventListener('change', () => schedule(0));
  for (const id of ['start', 'end']) $(id).addEventListener('input', () => schedule(TYPING_PAUSE_MS));
  for (const radio of document.querySelectorAll('input[name="colours"]')) {
    radio.addEventListener('change', () => {
      $('gradient').hidden = checked('colours') !== 'gradient';
      $('reseed').hidden = checked('colours') !== 'random';
      schedule(0);
    });
  }
  $('reseed').addEventListener('click', () => {
    state.seed = newSeed();
    schedule(0);
  });
  for (const radio of document.querySelectorAll('input[name="ground"]')) {
    radio.addEventListener('change', () => {
      $('stage').className = `stage ground-${checked('ground')}`;
    });
  }
  $('download').addEventListener('click', (event) => {
    if (!state.shown) event.preventDefault();
  });
  $('copy').addEventListener('click', copy);
  $('share').addEventListener('click', share);
}

async function start() {
  listen();
  trimPhrase();
  try {
    const response = await fetch('/v1/presets');
    if (!response.ok) throw new Error(String(response.status));
    state.catalogue = await response.json();
  } catch {
    say('无法读取贴纸的选项：服务连接不上。请稍后刷新页面。', true);
    return;
  }
  fillChoices();
  trimPhrase();
  render();
}

start();
