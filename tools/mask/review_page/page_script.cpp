// SPDX-License-Identifier: ISC
// The review page's style and script. The page is built from the data
// element with textContent alone: nothing from the user's files is parsed
// as markup.
#include "review_page.h"

namespace zendrik_mask {

const char* const PAGE_STYLE = R"CSS(
body { font: 15px system-ui, sans-serif; margin: 1em auto; max-width: 60em; color: #222; }
h1 { font-size: 1.3em; } h2 { font-size: 1.1em; margin-top: 1.5em; }
.item { border: 2px solid #ddd; border-radius: 6px; padding: .5em; margin: .5em 0; }
.item.current { border-color: #3469c9; }
.item.dropped { opacity: .5; }
.item .still { float: right; height: 90px; margin-left: .5em; }
.item canvas { width: 100%; height: 70px; display: block; cursor: ew-resize; background: #f6f6f6; }
.head { display: flex; gap: 1em; flex-wrap: wrap; align-items: baseline; }
.word { font-weight: bold; } .state { margin-left: auto; font-weight: bold; }
.kept .state { color: #1b7a2e; } .dropped .state { color: #a22; }
.bar { display: flex; gap: .5em; align-items: center; margin-top: .3em; }
.bar audio { height: 2em; }
#command { display: block; background: #f2f2f2; padding: .5em; white-space: pre-wrap; word-break: break-all; }
#keys { color: #555; }
)CSS";

const char* const PAGE_SCRIPT = R"JS(
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const items = data.items.map((item, index) => Object.assign(item, {index, kept: !item.near_miss}));
let current = 0;
let audioContext = null;

function el(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}
function clock(seconds) {
  const minutes = Math.floor(seconds / 60);
  return minutes + ":" + (seconds - minutes * 60).toFixed(2).padStart(5, "0");
}
// Labels as the program writes them: whole nanoseconds, never rounded by a float's printing.
function labelTime(ns) {
  return Math.floor(ns / 1e9) + "." + String(ns % 1e9).padStart(9, "0");
}
function quote(word) {
  return /^[A-Za-z0-9_.,:\/+=@-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
}

// Read once, not per picture: asking each canvas its width lays the page out again.
let canvasWidth = 800;

function draw(item) {
  if (!item.visible) return;
  const canvas = item.canvas, context = canvas.getContext("2d");
  const width = canvas.width = canvasWidth, height = canvas.height;
  const span = item.clip_end - item.clip_start;
  const x = seconds => (seconds - item.clip_start) / span * width;
  context.clearRect(0, 0, width, height);
  context.fillStyle = item.kept ? "rgba(220, 40, 40, .25)" : "rgba(120, 120, 120, .2)";
  const left = x(item.start_ns / 1e9), right = x(item.end_ns / 1e9);
  context.fillRect(left, 0, right - left, height);
  context.fillStyle = "#335";
  item.peaks.forEach((peak, i) => {
    const bar = Math.max(1, peak / 255 * height);
    context.fillRect(i * width / item.peaks.length, (height - bar) / 2, Math.max(1, width / item.peaks.length), bar);
  });
  context.fillStyle = "#c22";
  context.fillRect(left - 1, 0, 3, height);
  context.fillRect(right - 2, 0, 3, height);
}

// Dragging a bleep's edge moves it, to the nanosecond the pixel stands for.
function dragEdges(item) {
  const canvas = item.canvas;
  let edge = null;
  const timeAt = event => {
    const box = canvas.getBoundingClientRect();
    const fraction = Math.min(1, Math.max(0, (event.clientX - box.left) / box.width));
    return Math.round((item.clip_start + fraction * (item.clip_end - item.clip_start)) * 1e9);
  };
  canvas.addEventListener("pointerdown", event => {
    select(item.index);
    const at = timeAt(event);
    edge = Math.abs(at - item.start_ns) < Math.abs(at - item.end_ns) ? "start_ns" : "end_ns";
    canvas.setPointerCapture(event.pointerId);
  });
  canvas.addEventListener("pointermove", event => {
    if (!edge) return;
    const at = timeAt(event);
    if (edge === "start_ns") item.start_ns = Math.min(at, item.end_ns - 1000000);
    else item.end_ns = Math.max(at, item.start_ns + 1000000);
    show(item);
  });
  canvas.addEventListener("pointerup", () => { edge = null; });
}

function show(item, quietly) {
  item.node.classList.toggle("kept", item.kept);
  item.node.classList.toggle("dropped", !item.kept);
  item.state.textContent = item.kept ? "bleep" : "leave";
  item.range.textContent = clock(item.start_ns / 1e9) + " to " + clock(item.end_ns / 1e9);
  draw(item);
  if (!quietly) updateCommand();
}

function build(item) {
  const node = item.node = el("div", undefined, "item");
  node.id = "item-" + item.index;
  const head = el("div", undefined, "head");
  head.append(el("span", item.listed, "word"));
  if (item.heard && item.heard !== item.listed) head.append(el("span", "heard: " + item.heard, "heard"));
  if (item.confidence !== null) head.append(el("span", "confidence " + item.confidence.toFixed(2), "confidence"));
  head.append(el("span", item.source, "source"));
  item.range = el("span", "", "range");
  item.state = el("span", "", "state");
  head.append(item.range, item.state);
  if (item.still) {
    const still = el("img", undefined, "still");
    still.src = item.still;
    still.alt = "the picture at " + clock((item.start_ns + item.end_ns) / 2e9);
    node.append(still);
  }
  item.canvas = el("canvas");
  item.canvas.height = 70;
  const bar = el("div", undefined, "bar");
  item.audio = el("audio");
  item.audio.controls = true;
  // A thousand clips loaded at once would stall the page: each loads when played.
  item.audio.preload = "none";
  if (item.sound) item.audio.src = item.sound;
  const bleeped = el("button", "Play bleeped");
  bleeped.addEventListener("click", () => { select(item.index); playBleeped(item); });
  const keep = el("button", "Keep"), drop = el("button", "Drop");
  keep.addEventListener("click", () => { select(item.index); setKept(item, true); });
  drop.addEventListener("click", () => { select(item.index); setKept(item, false); });
  bar.append(item.audio, bleeped, keep, drop);
  node.prepend(head);
  node.append(item.canvas, bar);
  node.addEventListener("click", () => select(item.index));
  dragEdges(item);
  return node;
}

function setKept(item, kept) { item.kept = kept; show(item); }

function select(index) {
  if (index < 0 || index >= items.length) return;
  items[current].node.classList.remove("current");
  current = index;
  items[current].node.classList.add("current");
  items[current].node.scrollIntoView({block: "nearest"});
}

function decodeClip(item) {
  const bytes = Uint8Array.from(atob(item.sound.split(",")[1]), c => c.charCodeAt(0));
  return audioContext.decodeAudioData(bytes.buffer);
}

// The original with the tone laid over the bleep, as the plugin will write it.
async function playBleeped(item) {
  if (!item.sound) return;
  audioContext = audioContext || new AudioContext();
  const original = await decodeClip(item);
  const rate = original.sampleRate;
  const output = audioContext.createBuffer(1, original.length, rate);
  const samples = output.getChannelData(0);
  samples.set(original.getChannelData(0));
  const first = Math.max(0, Math.round((item.start_ns / 1e9 - item.clip_start) * rate));
  const end = Math.min(samples.length, Math.round((item.end_ns / 1e9 - item.clip_start) * rate));
  for (let i = first; i < end; ++i) samples[i] = data.level * Math.sin(2 * Math.PI * data.frequency * (i - first) / rate);
  const source = audioContext.createBufferSource();
  source.buffer = output;
  source.connect(audioContext.destination);
  source.start();
}

function labelsText() {
  return items.filter(item => item.kept).sort((a, b) => a.start_ns - b.start_ns)
    .map(item => labelTime(item.start_ns) + "\t" + labelTime(item.end_ns) + "\t" + item.label.replace(/[\x00-\x1f\x7f]/g, " ") + "\n")
    .join("");
}

function updateCommand() {
  const kept = items.filter(item => item.kept).length;
  document.getElementById("count").textContent = kept + " of " + items.length + " to bleep";
  document.getElementById("command").textContent = "zendrik-mask " + quote(data.input) + " "
    + quote(data.output || "out" + (data.input.match(/\.[A-Za-z0-9]+$/) || [".wav"])[0])
    + " --labels reviewed.txt" + (data.tone_options ? " " + data.tone_options : "");
}

function exportLabels() {
  const link = el("a");
  link.href = URL.createObjectURL(new Blob([labelsText()], {type: "text/plain"}));
  link.download = "reviewed.txt";
  document.body.append(link);
  link.click();
  link.remove();
  document.body.dataset.exported = "yes";
}

function page() {
  document.title = "Review: " + data.input;
  const heading = el("h1", "Review of " + data.input);
  const keys = el("p", "Keys: n or \u2193 next, p or \u2191 previous, space play, b play bleeped, k keep, d drop, e export. Drag a bleep's edges on its picture to move them.", undefined);
  keys.id = "keys";
  const finds = el("h2", "Finds"), misses = el("h2", "Near misses: not bleeped unless kept");
  const exportButton = el("button", "Export kept ranges (reviewed.txt)");
  exportButton.id = "export";
  exportButton.addEventListener("click", exportLabels);
  const count = el("p"); count.id = "count";
  const command = el("code"); command.id = "command";
  const apply = el("p", "Then apply them with:");
  document.body.append(heading, keys, exportButton, count, apply, command, finds);
  items.filter(item => !item.near_miss).forEach(item => document.body.append(build(item)));
  if (!items.some(item => !item.near_miss)) document.body.append(el("p", "Nothing found."));
  document.body.append(misses);
  items.filter(item => item.near_miss).forEach(item => document.body.append(build(item)));
  if (!items.some(item => item.near_miss)) document.body.append(el("p", "No near misses."));
  // Keys walk the page in the order it shows: finds, then near misses.
  items.sort((a, b) => a.near_miss - b.near_miss || a.start_ns - b.start_ns).forEach((item, i) => { item.index = i; });
  items.forEach(item => show(item, true));
  if (items.length) canvasWidth = items[0].canvas.clientWidth || canvasWidth;
  // Pictures are drawn as they scroll into view: a page of a thousand finds opens at once.
  const byNode = new Map(items.map(item => [item.canvas, item]));
  const observer = new IntersectionObserver(entries => entries.forEach(entry => {
    const item = byNode.get(entry.target);
    item.visible = entry.isIntersecting;
    draw(item);
  }));
  items.forEach(item => observer.observe(item.canvas));
  if (items.length) select(0);
  updateCommand();
  document.addEventListener("keydown", event => {
    if (event.ctrlKey || event.metaKey || event.altKey || !items.length) return;
    const item = items[current];
    const actions = {
      n: () => select(current + 1), ArrowDown: () => select(current + 1),
      p: () => select(current - 1), ArrowUp: () => select(current - 1),
      " ": () => { if (item.audio.paused) item.audio.play(); else item.audio.pause(); },
      b: () => playBleeped(item), k: () => setKept(item, true), d: () => setKept(item, false), e: exportLabels,
    };
    if (actions[event.key]) { event.preventDefault(); actions[event.key](); }
  });
  window.addEventListener("resize", () => {
    if (items.length) canvasWidth = items[0].canvas.clientWidth || canvasWidth;
    items.forEach(draw);
  });
  document.body.dataset.ready = "yes";
}
page();
)JS";

} // namespace zendrik_mask
