// Keeps the gallery page as light as what is on screen. The pictures come with their entry's
// number in data-n and are loaded only near the screen; the table rows of the row layout come
// as strings through rows(), and only the rows near the screen are in the page, with empty
// blocks of the same height standing for the others above and below. A gallery of a few
// hundred pictures stays whole in the page; only larger ones are cut to the screen. The
// program puts the addresses and sizes of the boundary before this script, in
// pictarreProtocol.
(function (protocol) {
  'use strict';
  const kNear = 1.5;     // screens above and below the visible one that are loaded
  const kFar = 4;        // screens beyond which rows and pictures are let go again
  const kKeepAll = protocol.keepAll;  // entries a gallery may have and still stay whole
  const kTries = 3;      // requests for a batch's markup before it counts as lost
  // The page's folder in the gallery scheme: its rows and pictures are found under it.
  const folder = location.href.split(/[?#]/)[0].replace(/[^/]*$/, '');

  // A picture wider than the paper is printed at the paper's width; a match that find shows
  // is marked as the engine marks its own.
  const style = document.createElement('style');
  style.textContent = '@media print { img { max-width: 100%; height: auto; } }'
                      + ' .pictarre-found ::selection { background: #ff9632; color: #000; }';
  document.head.appendChild(style);

  const images = document.images;
  const loadedImages = new Set();
  let scheduled = false;
  let holdAll = false;
  let printSide = 0;

  // ---- Pictures ----

  // The picture's address for this page, with the size it is drawn at in device pixels (no
  // longer than `longest` on either side when that is given), so the program can hand over a
  // picture no larger than needed.
  function address(img, longest) {
    let url = folder + protocol.picture + img.dataset.n;
    const w = Number(img.getAttribute('width')) * window.devicePixelRatio;
    const h = Number(img.getAttribute('height')) * window.devicePixelRatio;
    if (w > 0 && h > 0) {
      // The program takes sizes of at most five digits.
      const k = Math.min(1, (longest || 99999) / Math.max(w, h), 99999 / Math.max(w, h));
      url += '?' + protocol.widthKey + '=' + Math.ceil(w * k) + '&' + protocol.heightKey + '=' + Math.ceil(h * k);
    }
    return url;
  }

  function loadImage(img, longest) {
    if (img.dataset.n === undefined)
      return;
    const wanted = address(img, longest);
    if (img.getAttribute('src') !== wanted) {
      if (holdAll) {
        img.addEventListener('load', checkPrintSoon);
        img.addEventListener('error', checkPrintSoon);
      }
      img.setAttribute('src', wanted);
    }
    loadedImages.add(img);
  }

  function releaseImage(img) {
    img.removeAttribute('src');
    loadedImages.delete(img);
  }

  // The first picture whose bottom edge lies at or below `y` (viewport coordinates); pictures
  // follow one another down the page.
  function firstImageEndingBelow(y) {
    let lo = 0;
    let hi = images.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (images[mid].getBoundingClientRect().bottom < y)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }

  function firstImageStartingBelow(from, y) {
    let index = Math.max(from, firstImageEndingBelow(y));
    while (index < images.length && images[index].getBoundingClientRect().top <= y)
      ++index;
    return index;
  }

  function updateImages() {
    const h = window.innerHeight || 1;
    const first = firstImageEndingBelow(-kNear * h);
    const end = firstImageStartingBelow(first, (1 + kNear) * h);
    for (let i = first; i < end; ++i)
      loadImage(images[i], 0);
    const keepFirst = firstImageEndingBelow(-kFar * h);
    const keepEnd = firstImageStartingBelow(keepFirst, (1 + kFar) * h);
    const keep = new Set();
    for (let i = keepFirst; i < keepEnd; ++i)
      keep.add(images[i]);
    for (const img of Array.from(loadedImages)) {
      if (!keep.has(img) || !img.isConnected)
        releaseImage(img);
    }
  }

  // ---- Rows ----

  const entries = [];    // {batch, pictureHeight, text, height, measured, rows}
  const batches = [];    // {first, count, strings, loading, failures}, by number
  const kKeepBatches = 6;  // batches of markup held beyond those the page needs
  let tbody = null;
  let above = null;      // stands for the entries before the ones in the page
  let below = null;      // and for those after them
  let first = 0;         // the entries in the page: [first, end)
  let end = 0;
  let extra = 34;        // an entry's height beyond its picture's, as last measured

  function setUpRows() {
    const table = document.getElementById('AutoNumber1');
    if (!table)
      return false;
    tbody = table.tBodies[0] || table.createTBody();
    above = document.createElement('div');
    below = document.createElement('div');
    table.before(above);
    table.after(below);
    return true;
  }

  // Asks the program for a batch's markup; it arrives through pictarreGallery.rows(). A
  // request that brought nothing (the file gone or written anew, a script that did not run)
  // is tried again a few times, then the batch counts as lost.
  function request(batch) {
    if (batch.strings || batch.loading || batch.failures >= kTries)
      return;
    batch.loading = true;
    const script = document.createElement('script');
    script.src = folder + protocol.rows + protocol.batchKey + '=' + batch.number;
    const ended = () => {
      script.remove();
      if (batch.loading) {
        batch.loading = false;
        ++batch.failures;
        schedule();
      }
    };
    script.onload = ended;
    script.onerror = ended;
    document.head.appendChild(script);
  }

  // True when the markup of every entry in [from, to) is here; asks for what is missing.
  function markupHere(from, to) {
    let here = true;
    for (let i = from; i < to; i = entries[i].batch.first + entries[i].batch.count) {
      if (!entries[i].batch.strings) {
        request(entries[i].batch);
        here = false;
      }
    }
    return here;
  }

  // Lets go of the markup of batches far from the page's rows, keeping a few.
  function dropFarMarkup() {
    const held = batches.filter(b => b.strings && (b.first + b.count <= first || b.first >= end));
    held.sort((x, y) => Math.abs(x.first - first) - Math.abs(y.first - first));
    for (const batch of held.slice(kKeepBatches))
      batch.strings = null;
  }

  function heightOf(index) {
    const entry = entries[index];
    return entry.measured ? entry.height : entry.pictureHeight + extra;
  }

  function sumOfHeights(from, to) {
    let sum = 0;
    for (let i = from; i < to; ++i)
      sum += heightOf(i);
    return sum;
  }

  // Puts entries [from, to) into the page, before the row `before` (or at the end).
  function insertEntries(from, to, before) {
    let html = '';
    for (let i = from; i < to; ++i)
      html += entries[i].batch.strings[i - entries[i].batch.first];
    const template = document.createElement('template');
    template.innerHTML = '<table><tbody>' + html + '</tbody></table>';
    const rows = Array.from(template.content.querySelector('tbody').rows);
    // Each entry is two rows.
    for (let i = from, r = 0; i < to; ++i, r += 2)
      entries[i].rows = rows.slice(r, r + 2);
    const fragment = document.createDocumentFragment();
    for (const row of rows)
      fragment.appendChild(row);
    tbody.insertBefore(fragment, before);
  }

  function removeEntries(from, to) {
    for (let i = from; i < to; ++i) {
      for (const row of entries[i].rows || [])
        row.remove();
      entries[i].rows = null;
    }
  }

  // Sets the page's window of rows to [from, to), reusing the rows already there.
  function showEntries(from, to) {
    if (to <= first || from >= end) {
      removeEntries(first, end);
      insertEntries(from, to, null);
    } else {
      removeEntries(first, Math.min(from, end));
      removeEntries(Math.max(to, first), end);
      if (from < first)
        insertEntries(from, first, entries[first].rows[0]);
      if (to > end)
        insertEntries(end, to, null);
    }
    first = from;
    end = to;
  }

  // Heights of the entries in the page, as laid out.
  function measure() {
    let measuredExtra = null;
    for (let i = first; i < end; ++i) {
      const top = entries[i].rows[0].getBoundingClientRect().top;
      const next = i + 1 < end ? entries[i + 1].rows[0].getBoundingClientRect().top
                               : entries[i].rows[1].getBoundingClientRect().bottom;
      entries[i].height = next - top;
      entries[i].measured = true;
      if (measuredExtra === null)
        measuredExtra = entries[i].height - entries[i].pictureHeight;
    }
    if (measuredExtra !== null && measuredExtra > 0)
      extra = measuredExtra;
  }

  // The entry at `y`, measured from the top of the rows (the count of entries when below).
  function entryAt(y) {
    let sum = 0;
    for (let i = 0; i < entries.length; ++i) {
      sum += heightOf(i);
      if (sum > y)
        return i;
    }
    return entries.length;
  }

  function updateRows() {
    if (!tbody || entries.length === 0)
      return;
    const h = window.innerHeight || 1;
    const atEnd = window.scrollY > 0
                  && window.scrollY + h >= document.documentElement.scrollHeight - 1;
    let from = 0;
    let to = entries.length;
    if (!holdAll && entries.length > kKeepAll) {
      const origin = above.getBoundingClientRect().top;  // top of the rows, in the viewport
      const wantFirst = entryAt(-kNear * h - origin);
      const wantEnd = Math.min(entries.length, entryAt((1 + kNear) * h - origin) + 1);
      const keepFirst = entryAt(-kFar * h - origin);
      const keepEnd = Math.min(entries.length, entryAt((1 + kFar) * h - origin) + 1);
      // Rows already in the page stay while they are within reach; a jump starts afresh.
      from = first < end && first >= keepFirst && first <= wantFirst ? first : wantFirst;
      to = first < end && end <= keepEnd && end >= wantEnd ? end : wantEnd;
      if (from > to)
        from = to;
    }
    // Rows whose markup has not come yet wait for it; the blocks stand in for them meanwhile.
    if ((from !== first || to !== end) && markupHere(from, to)) {
      showEntries(from, to);
      measure();
      dropFarMarkup();
    }
    above.style.height = sumOfHeights(0, first) + 'px';
    below.style.height = sumOfHeights(end, entries.length) + 'px';
    if (atEnd)
      window.scrollTo(window.scrollX, document.documentElement.scrollHeight);
  }

  // ---- Find ----

  // In a gallery cut to the screen the engine's find sees only the rows in the page; the
  // dialog asks here instead, where every entry's text is known.
  let found = null;  // {needle, matchCase, hits: [[entry, offset]...], current}

  // The link text as the page shows it (the page writes <, > and some & as references).
  function textOf(index) {
    const entry = entries[index];
    if (entry.shownText === undefined)
      entry.shownText = entry.text.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
    return entry.shownText;
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

  function allHits(needle, matchCase) {
    const hits = [];
    const wanted = matchCase ? needle : folded(needle);
    for (let i = 0; i < entries.length; ++i) {
      const text = matchCase ? textOf(i) : folded(textOf(i));
      for (let at = text.indexOf(wanted); at >= 0; at = text.indexOf(wanted, at + 1))
        hits.push([i, at]);
    }
    return hits;
  }

  // Brings entry `index` into the page and onto the screen, and selects `length` characters of
  // its link text from `offset`; when its markup is still on its way, once it has come.
  let revealing = null;

  function reveal(index, offset, length) {
    revealing = {index, offset, length};
    const rowsTop = above.getBoundingClientRect().top + window.scrollY;
    window.scrollTo(window.scrollX, rowsTop + sumOfHeights(0, index) - window.innerHeight / 2);
    updateRows();
    finishReveal();
  }

  function finishReveal() {
    if (!revealing)
      return;
    const {index, offset, length} = revealing;
    const link = entries[index].rows && entries[index].rows[1].querySelector('a');
    if (!link || !link.firstChild)
      return;
    revealing = null;
    link.scrollIntoView({block: 'center'});
    updateRows();
    const range = document.createRange();
    const shown = link.firstChild.length;
    range.setStart(link.firstChild, Math.min(offset, shown));
    range.setEnd(link.firstChild, Math.min(offset + length, shown));
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    document.documentElement.classList.add('pictarre-found');
    schedule();
  }

  // ---- Printing ----

  // While a print prepares, the program hears how many pictures have come and when all of
  // them have, through console messages that it takes from this page only.
  let printing = false;
  let printReported = -1;
  let printCheckDue = false;

  function tellProgram(step) {
    console.info(protocol.printMarker + step);
  }

  // What a print still waits for: the rest of the page, markup on its way, then pictures;
  // -1 when some markup is lost and the page cannot be printed whole.
  function pending() {
    if (batches.some(b => b.failures >= kTries))
      return -1;
    if (document.readyState === 'loading')
      return 1 + images.length;
    if (!markupHere(0, entries.length))
      return batches.filter(b => !b.strings).length + images.length;
    updateRows();
    let count = 0;
    for (const img of images) {
      loadImage(img, printSide);
      if (!img.complete)
        ++count;
    }
    return count;
  }

  function checkPrint() {
    printCheckDue = false;
    if (!printing)
      return;
    let count = -1;
    try {
      count = pending();
    } catch (e) {
      count = -1;
    }
    if (count <= 0) {
      printing = false;
      tellProgram(count === 0 ? 'ready' : 'failed');
      return;
    }
    let prepared = 0;
    for (const img of images)
      prepared += img.complete ? 1 : 0;
    if (prepared !== printReported) {
      printReported = prepared;
      tellProgram('progress ' + prepared);
    }
  }

  // Many pictures arrive at once: one check for all that came meanwhile.
  function checkPrintSoon() {
    if (printing && !printCheckDue) {
      printCheckDue = true;
      setTimeout(checkPrint, 20);
    }
  }

  // ---- Both ----

  function update() {
    scheduled = false;
    updateRows();
    finishReveal();
    if (!holdAll)
      updateImages();
    checkPrintSoon();
  }

  function schedule() {
    if (!scheduled) {
      scheduled = true;
      requestAnimationFrame(update);
    }
  }

  window[protocol.object] = {
    // Batch `number` of entries of the row layout, in page order: each entry's picture height
    // and link text.
    batch(number, heights, texts) {
      if ((!tbody && !setUpRows()) || number !== batches.length)
        return;
      const batch = {number, first: entries.length, count: heights.length, strings: null, loading: false,
                     failures: 0};
      batches.push(batch);
      for (let i = 0; i < heights.length; ++i) {
        entries.push({batch, pictureHeight: Math.max(0, heights[i]), text: texts[i], height: 0,
                      measured: false, rows: null});
      }
      // The first rows are asked for at once, so that the page's load includes them.
      if (batch.first < kKeepAll)
        request(batch);
      if (document.currentScript)
        document.currentScript.remove();
      schedule();
    },
    // The markup of batch `number`, one string for each of its entries.
    rows(number, strings) {
      const batch = batches[number];
      if (batch && batch.loading && Array.isArray(strings) && strings.length === batch.count) {
        batch.strings = strings;
        batch.loading = false;
      }
      if (document.currentScript)
        document.currentScript.remove();
      // At once rather than at the next frame: the rows and their pictures then count as part
      // of the page's load.
      update();
    },
    // Printing needs every row and picture: the program asks for all of them (no longer than
    // `longest` pixels, which bounds what a page of large photos holds) and is told how far
    // they have come, then prints, then lets the page return to following the screen.
    loadAll(longest) {
      holdAll = true;
      printSide = longest;
      printing = true;
      printReported = -1;
      // From the page's own script: the program takes print steps from nothing else.
      checkPrintSoon();
      return true;
    },
    resume() {
      holdAll = false;
      printing = false;
      for (const img of Array.from(loadedImages))
        releaseImage(img);
      schedule();
    },
    // Finds the next match of `needle` in the gallery's texts; false when the whole gallery is
    // in the page and the engine's own find serves. Gives the match shown (from 1) and the
    // number of matches.
    find(needle, matchCase, backward) {
      if (entries.length <= kKeepAll || holdAll)
        return false;
      if (!found || found.needle !== needle || found.matchCase !== matchCase)
        found = {needle, matchCase, hits: allHits(needle, matchCase), current: -1};
      const hits = found.hits;
      if (hits.length === 0)
        return {active: 0, count: 0};
      if (found.current < 0) {
        // The first search starts from the top of the screen.
        const screenTop = entryAt(-above.getBoundingClientRect().top);
        let k = hits.findIndex(hit => hit[0] >= screenTop);
        if (backward)
          k = (k < 0 ? hits.length : k) - 1;
        found.current = k < 0 ? (backward ? hits.length - 1 : 0) : k;
      } else {
        found.current = (found.current + (backward ? hits.length - 1 : 1)) % hits.length;
      }
      const [index, offset] = hits[found.current];
      reveal(index, offset, needle.length);
      return {active: found.current + 1, count: hits.length};
    },
    endFind() {
      found = null;
      revealing = null;
      document.documentElement.classList.remove('pictarre-found');
    },
  };

  addEventListener('scroll', schedule, {passive: true});
  addEventListener('resize', schedule);
  // While the page is still arriving, every new piece may bring pictures onto the screen.
  const arrivals = new MutationObserver(schedule);
  arrivals.observe(document, {childList: true, subtree: true});
  document.addEventListener('DOMContentLoaded', () => {
    arrivals.disconnect();
    schedule();
  });
})(pictarreProtocol);
