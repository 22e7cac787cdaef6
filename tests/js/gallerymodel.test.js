// The gallery page's decisions, without a browser: node gallerymodel.test.js [gallerymodel.js]
'use strict';
const assert = require('assert');
const path = require('path');
const model = require(process.argv[2] || path.join(__dirname, '../../src/platform/gallerymodel.js'));

let passed = 0;
let failed = 0;
function test(name, body) {
  try { body(); ++passed; } catch (e) { ++failed; console.log(`FAIL ${name}: ${e.message}`); }
}
const range = (a, b) => Array.from({length: b - a}, (_, k) => a + k);

test('entry heights: tops, the entry at a height, and tops after a measure', () => {
  const heights = new model.Heights();
  [66, 16, 0].forEach(h => heights.add(h));  // 100, 50 and 34 high with the default extra
  const steps = [
    {act: () => {}, tops: [0, 100, 150, 184], at: [[-5, 0], [0, 0], [99.5, 0], [100, 1], [150, 2], [183, 2], [184, 3]]},
    // The first measured entry keeps the extra as it was; only entry 1 changes.
    {act: () => heights.setMeasured(0, [100, 90]), tops: [0, 100, 190, 224], at: [[150, 1], [190, 2], [223, 2]]},
    // A new extra changes every entry not measured, the one added after it too.
    {act: () => { heights.setMeasured(2, [10]); heights.add(4); }, tops: [0, 100, 190, 200, 214],
     at: [[199, 2], [200, 3], [214, 4]]},
  ];
  steps.forEach((step, k) => {
    step.act();
    assert.deepStrictEqual(range(0, heights.count + 1).map(i => heights.top(i)), step.tops, `tops after step ${k}`);
    for (const [y, entry] of step.at)
      assert.strictEqual(heights.entryAt(y), entry, `entry at ${y} after step ${k}`);
  });
});

test('the window of rows follows the screen with some slack and starts afresh after a jump', () => {
  const heights = new model.Heights();
  range(0, 3000).forEach(() => heights.add(66));  // 100 high each
  const cases = [  // [top, first, end, keepAll, whole] → [from, to]
    [0, 0, 0, 500, false, 0, 16],
    [300, 0, 16, 500, false, 0, 19],
    [1000, 0, 19, 500, false, 0, 26],     // the rows above stay while within reach
    [1000, 5, 40, 500, false, 1, 40],     // scrolling up adds rows above, keeps those below
    [200000, 0, 26, 500, false, 1991, 2016],
    [299400, 2985, 3000, 500, false, 2985, 3000],
    [200000, 0, 26, 3000, false, 0, 3000],
    [200000, 0, 26, 500, true, 0, 3000],
  ];
  for (const [top, first, end, keepAll, whole, from, to] of cases)
    assert.deepStrictEqual(model.chooseRows(heights, {top, screen: 600, first, end, keepAll, whole}), {from, to},
                           `top ${top}, rows [${first}, ${end})`);
});

test('changing the rows keeps the page in entry order and inserts only what is new', () => {
  const n = 7;
  for (let first = 0; first <= n; ++first) for (let end = first; end <= n; ++end)
    for (let from = 0; from <= n; ++from) for (let to = from; to <= n; ++to) {
      const label = `[${first}, ${end}) → [${from}, ${to})`;
      const plan = model.planRows(first, end, from, to);
      let page = range(first, end);
      for (const [a, b] of plan.remove)
        page = page.filter(i => i < a || i >= b);
      const kept = page.length;
      if (plan.insertBefore) {
        const at = page.indexOf(plan.insertBefore[1]);
        assert.ok(at >= 0, `${label}: no row to insert before`);
        page.splice(at, 0, ...range(...plan.insertBefore));
      }
      if (plan.append)
        page.push(...range(...plan.append));
      assert.deepStrictEqual(page, range(from, to), label);
      assert.strictEqual(page.length - kept, range(from, to).filter(i => i < first || i >= end).length, label);
    }
});

test('markup is let go for the batches farthest from the rows', () => {
  const batches = range(0, 10).map(k => ({number: k, first: k * 100, count: 100, strings: k !== 1 ? [] : null}));
  const cases = [[450, 520, 6, [9]], [450, 520, 2, [2, 7, 8, 0, 9]], [0, 1000, 0, []]];
  for (const [first, end, keep, dropped] of cases)
    assert.deepStrictEqual(model.batchesToDrop(batches, first, end, keep).map(b => b.number), dropped, `${first} ${keep}`);
});

test('pictures load near the screen and are let go far from it', () => {
  const window = new model.PictureWindow();  // 200 pictures 100 high, a screen of 600
  const steps = [  // [scroll, loaded, released]
    [0, range(0, 16), []],
    [2000, range(10, 36), []],
    [5000, range(40, 66), range(0, 25)],
    [0, range(0, 16), range(31, 36).concat(range(40, 66))],
  ];
  for (const [scroll, load, release] of steps) {
    const got = window.update(200, i => i, i => ({top: i * 100 - scroll, bottom: i * 100 + 100 - scroll}), 600);
    assert.deepStrictEqual(got.load, load, `loaded at ${scroll}`);
    assert.deepStrictEqual(got.release.sort((a, b) => a - b), release, `let go at ${scroll}`);
  }
  assert.deepStrictEqual(window.releaseAll().sort((a, b) => a - b), range(0, 16).concat(range(25, 31)));
  assert.deepStrictEqual(window.releaseAll(), []);
});

test('find: shown texts, folding, every match and the way from one to the next', () => {
  const shown = [['a&amp;lt;b', 'a&lt;b'], ['&lt;x&gt;&amp;', '<x>&'], ['&amp;amp;', '&amp;']];
  const folded = [['AbC', 'abc'], ['\u0130A', '\u0130a'], ['ÄÖ', 'äö']];
  for (const [f, cases] of [[model.shownText, shown], [model.folded, folded]])
    cases.forEach(([text, expected]) => assert.strictEqual(f(text), expected));
  const texts = ['x', 'aAa', 'Ab', '\u0130a', ''];
  const hits = [['aa', false, [[1, 0], [1, 1]]], ['A', true, [[1, 1], [2, 0]]], ['', false, []],
                ['A', false, [[1, 0], [1, 1], [1, 2], [2, 0], [3, 1]]]];
  for (const [needle, matchCase, expected] of hits)
    assert.deepStrictEqual(model.findHits(texts.length, i => texts[i], needle, matchCase), expected, needle);

  const cases = [  // [screenTop, the steps' directions (b: backward)] → the matches shown
    [5, 'fffff', [1, 2, 3, 0, 1]], [5, 'bbb', [0, 3, 2]], [10, 'f', [0]], [0, 'b', [3]], [3, 'fbb', [1, 0, 3]],
  ];
  for (const [screenTop, directions, expected] of cases) {
    const search = new model.Search('n', false, [[2, 0], [5, 0], [5, 3], [9, 1]]);
    assert.deepStrictEqual([...directions].map(d => search.step(d === 'b', screenTop)), expected, `${screenTop} ${directions}`);
  }
  assert.strictEqual(new model.Search('n', false, []).step(false, 0), -1);
});

test('rows fitted to the view: as wide as the room, never wider than the picture, heights anew', () => {
  const cases = [  // [width, height, widest, room] → [width, height]
    [744, 558, 1024, 744, 744, 558],     // the width it was written at: as written
    [744, 558, 1024, 1256, 1024, 768],   // a maximised window: up to its own width
    [744, 558, 1024, 900.7, 900, 675],
    [776, 582, 1024, 744, 744, 558],     // written while the window was wider
    [200, 150, 200, 1256, 200, 150],     // a small picture keeps its size
    [200, 150, 200, 100, 100, 75],
    [200, 150, 0, -30, 1, 1],            // no room at all
    [0, 0, 0, 500, 0, 0],                // no size: left as it is
  ];
  for (const [w, h, widest, room, ew, eh] of cases)
    assert.deepStrictEqual(model.fitRow(w, h, widest, room), {width: ew, height: eh}, `${w}x${h} in ${room}`);
  const heights = new model.Heights();
  [66, 16].forEach(h => heights.add(h));
  heights.setMeasured(0, [100, 50]);
  heights.setPictures([166, -3]);
  assert.deepStrictEqual([heights.top(1), heights.top(2)], [200, 234]);
});

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
