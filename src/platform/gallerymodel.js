// What the gallery page decides, apart from the page itself: which rows and pictures belong in
// it for a given scroll position, how to change the rows it has into those, which batches of
// markup to let go, and where find's matches are. Nothing here touches the document, so the
// same file runs in the page (before gallerypage.js) and under node for the tests.
const pictarreModel = (function () {
  'use strict';
  const kNear = 1.5;       // screens above and below the visible one that are loaded
  const kFar = 4;          // screens beyond which rows and pictures are let go again
  const kKeepBatches = 6;  // batches of markup held beyond those the page needs

  // The heights of the row layout's entries: measured once an entry has been laid out, else
  // its picture's height plus what the other parts of an entry took when last measured. The
  // tops of the entries are kept as prefix sums, made on demand and dropped from the first
  // entry whose height changes, so that finding the entry at a height is a binary search.
  class Heights {
    constructor() {
      this.pictures = [];  // each entry's picture height
      this.measured = [];  // each entry's height as laid out, or -1 while it has not been
      this.extra = 34;     // an entry's height beyond its picture's, as last measured
      this.sums = [0];     // sums[k]: the height of entries [0, k), for every k < sums.length
    }

    get count() {
      return this.pictures.length;
    }

    add(pictureHeight) {
      this.pictures.push(Math.max(0, pictureHeight));
      this.measured.push(-1);
    }

    heightOf(index) {
      const measured = this.measured[index];
      return measured >= 0 ? measured : this.pictures[index] + this.extra;
    }

    // Takes the laid-out heights of entries from `from` on; the first of them also tells what an
    // entry takes beyond its picture.
    setMeasured(from, heights) {
      for (let k = 0; k < heights.length; ++k) {
        if (this.measured[from + k] !== heights[k]) {
          this.measured[from + k] = heights[k];
          this.invalidateFrom(from + k);
        }
      }
      if (heights.length > 0) {
        const extra = heights[0] - this.pictures[from];
        if (extra > 0 && extra !== this.extra) {
          this.extra = extra;
          this.invalidateFrom(0);
        }
      }
    }

    // Every entry's picture height anew (the rows were fitted to another width): nothing
    // measured holds any more.
    setPictures(pictureHeights) {
      this.pictures = pictureHeights.map(h => Math.max(0, h));
      this.measured = this.pictures.map(() => -1);
      this.invalidateFrom(0);
    }

    // The height of entry `index` changed: the tops of the entries after it no longer hold.
    invalidateFrom(index) {
      if (this.sums.length > index + 1)
        this.sums.length = index + 1;
    }

    // The top of entry `index` (the height of all entries before it); index may be count.
    top(index) {
      const sums = this.sums;
      for (let i = sums.length - 1; i < index; ++i)
        sums.push(sums[i] + this.heightOf(i));
      return sums[index];
    }

    sum(from, to) {
      return this.top(to) - this.top(from);
    }

    // The entry at `y`, measured from the top of the rows: the first whose bottom lies below y
    // (count when y is at or below the last one's bottom).
    entryAt(y) {
      const sums = this.sums;
      this.top(this.count);
      let lo = 0;
      let hi = this.count;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (sums[mid + 1] > y)
          hi = mid;
        else
          lo = mid + 1;
      }
      return lo;
    }
  }

  // The entries [from, to) the page should hold when its screen of height `screen` starts at
  // `top` below the top of the rows and it holds [first, end) now. Rows already in the page stay
  // while they are within kFar screens and the page still has those within kNear; a jump starts
  // afresh. A gallery of at most `keepAll` entries, or one printed (`whole`), stays whole.
  function chooseRows(heights, {top, screen, first, end, keepAll, whole}) {
    const count = heights.count;
    if (whole || count <= keepAll)
      return {from: 0, to: count};
    const wantFirst = heights.entryAt(top - kNear * screen);
    const wantEnd = Math.min(count, heights.entryAt(top + (1 + kNear) * screen) + 1);
    const keepFirst = heights.entryAt(top - kFar * screen);
    const keepEnd = Math.min(count, heights.entryAt(top + (1 + kFar) * screen) + 1);
    const shown = first < end;
    const from = shown && first >= keepFirst && first <= wantFirst ? first : wantFirst;
    const to = shown && end <= keepEnd && end >= wantEnd ? end : wantEnd;
    return {from: Math.min(from, to), to};
  }

  // How the page's rows go from entries [first, end) to [from, to), keeping those in both:
  // the ranges to remove, the range to insert before the first row kept (null for none) and the
  // range to append after the last (null for none). Ranges are [a, b) pairs, none of them empty.
  function planRows(first, end, from, to) {
    const plan = {remove: [], insertBefore: null, append: null};
    const remove = (a, b) => {
      if (a < b)
        plan.remove.push([a, b]);
    };
    if (first >= end || to <= first || from >= end) {
      remove(first, end);
      if (from < to)
        plan.append = [from, to];
      return plan;
    }
    remove(first, Math.min(from, end));
    remove(Math.max(to, first), end);
    if (from < first)
      plan.insertBefore = [from, first];
    if (to > end)
      plan.append = [end, to];
    return plan;
  }

  // The batches ({first, count, strings}) whose markup to let go: of those held that have no
  // entry in [first, end), all but the `keep` nearest to `first`.
  function batchesToDrop(batches, first, end, keep = kKeepBatches) {
    const held = batches.filter(b => b.strings && (b.first + b.count <= first || b.first >= end));
    held.sort((x, y) => Math.abs(x.first - first) - Math.abs(y.first - first));
    return held.slice(keep);
  }

  // The size a row's picture, written at `width` × `height` and at most `widest` wide, is drawn
  // at in a view with `room` pixels for it: as wide as the room, but never wider than the
  // picture itself. A picture drawn as written keeps its written size exactly.
  function fitRow(width, height, widest, room) {
    if (!(width > 0 && height > 0))
      return {width, height};
    const shown = Math.max(1, Math.min(Math.max(width, widest), Math.floor(room)));
    return shown === width ? {width, height} : {width: shown, height: Math.max(1, Math.round(height * shown / width))};
  }

  // ---- Pictures ----

  // The first of `count` pictures whose bottom edge lies at or below `y`, where rectOf(i)
  // answers picture i's {top, bottom} and pictures follow one another down the page.
  function firstEndingBelow(count, rectOf, y) {
    let lo = 0;
    let hi = count;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (rectOf(mid).bottom < y)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }

  // The pictures [first, end) that reach into the band from y0 to y1.
  function picturesWithin(count, rectOf, y0, y1) {
    const first = firstEndingBelow(count, rectOf, y0);
    let end = first;
    while (end < count && rectOf(end).top <= y1)
      ++end;
    return [first, end];
  }

  // Which pictures are loaded: those within kNear screens of the screen are, those beyond kFar
  // screens are let go; in between, a picture stays as it is. Pictures are whatever the caller
  // gives (elements in the page); rectOf(i) answers picture i's {top, bottom} relative to the
  // screen's top.
  class PictureWindow {
    constructor() {
      this.loaded = new Set();
    }

    // The pictures to load (all those near the screen, loaded or not, since the size wanted may
    // have changed) and those to let go, for `count` pictures, at(i) the i-th.
    update(count, at, rectOf, screen) {
      const [first, end] = picturesWithin(count, rectOf, -kNear * screen, (1 + kNear) * screen);
      const load = [];
      for (let i = first; i < end; ++i)
        load.push(at(i));
      const [keepFirst, keepEnd] = picturesWithin(count, rectOf, -kFar * screen, (1 + kFar) * screen);
      const keep = new Set();
      for (let i = keepFirst; i < keepEnd; ++i)
        keep.add(at(i));
      for (const picture of load)
        this.loaded.add(picture);
      const release = Array.from(this.loaded).filter(picture => !keep.has(picture));
      for (const picture of release)
        this.loaded.delete(picture);
      return {load, release};
    }

    // Counts a picture loaded that update() did not choose (a print loads every one).
    add(picture) {
      this.loaded.add(picture);
    }

    // Every picture loaded, all of them now counted as let go.
    releaseAll() {
      const all = Array.from(this.loaded);
      this.loaded.clear();
      return all;
    }
  }

  // ---- Find ----

  // A link text as the page shows it: the page writes <, > and some & as references. &amp; is
  // decoded last, so that a name holding "&lt;" (written "&amp;lt;") shows as "&lt;".
  function shownText(text) {
    return text.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
  }

  // `text` in lower case, character for character, so that offsets into it are offsets into
  // `text` (a few letters, such as U+0130, lower to two characters: those stay as they are).
  function folded(text) {
    const lower = text.toLowerCase();
    if (lower.length === text.length)
      return lower;
    let out = '';
    for (const c of text) {
      const l = c.toLowerCase();
      out += l.length === c.length ? l : c;
    }
    return out;
  }

  // Every match of `needle` in the shown texts of `count` entries, textOf(i) the i-th, as
  // [entry, offset] pairs in page order.
  function findHits(count, textOf, needle, matchCase) {
    const hits = [];
    if (needle.length === 0)
      return hits;
    const wanted = matchCase ? needle : folded(needle);
    for (let i = 0; i < count; ++i) {
      const text = matchCase ? textOf(i) : folded(textOf(i));
      for (let at = text.indexOf(wanted); at >= 0; at = text.indexOf(wanted, at + 1))
        hits.push([i, at]);
    }
    return hits;
  }

  // One search through a gallery's texts: the match shown now, and the next one either way.
  class Search {
    constructor(needle, matchCase, hits) {
      this.needle = needle;
      this.matchCase = matchCase;
      this.hits = hits;
      this.current = -1;
    }

    // Moves to the next match (the previous when `backward`), around the end; the first move
    // goes to the first match from entry `screenTop` on (the last before it when backward).
    // The match's index, -1 when there is none.
    step(backward, screenTop) {
      const n = this.hits.length;
      if (n === 0)
        return -1;
      if (this.current >= 0) {
        this.current = (this.current + (backward ? n - 1 : 1)) % n;
        return this.current;
      }
      let lo = 0;
      let hi = n;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (this.hits[mid][0] < screenTop)
          lo = mid + 1;
        else
          hi = mid;
      }
      if (backward)
        this.current = lo === 0 ? n - 1 : lo - 1;
      else
        this.current = lo === n ? 0 : lo;
      return this.current;
    }
  }

  return {kNear, kFar, kKeepBatches, Heights, chooseRows, planRows, batchesToDrop, fitRow, PictureWindow,
          shownText, folded, findHits, Search};
})();

if (typeof module !== 'undefined')
  module.exports = pictarreModel;
