// Keeps the gallery page as light as what is on screen. The pictures come with their entry's
// number in data-n and are loaded only near the screen; the table rows of the row layout come
// as strings through rows(), and only the rows near the screen are in the page, with empty
// blocks of the same height standing for the others above and below. A gallery of a few
// hundred pictures stays whole in the page; only larger ones are cut to the screen. The
// program puts the addresses and sizes of the boundary before this script, in
// pictarreProtocol. What to hold and where find's matches are is decided in pictarreModel; this
// script reads the page for it and carries out what it decides.
(function (protocol, model) {
  'use strict';
  const kKeepAll = protocol.keepAll;  // entries a gallery may have and still stay whole
  const kTries = 3;      // requests for a batch's markup before it counts as lost
  // On paper a row's picture takes the paper's width (up to its own, which fitEntry sets as
  // its largest), and no more than about a third of the sheet's height, so that two or more
  // entries share a sheet; a picture stays on one sheet with its path. Each entry is framed on
  // its own, so that no frame runs on past the last entry of a sheet.
  const printRows = ' @media print {'
                    + ' #AutoNumber1 { table-layout: fixed; border: 0; border-collapse: separate; border-spacing: 0; }'
                    + ' #AutoNumber1 td { border: 1px solid #111111; }'
                    + ' #AutoNumber1 tr:nth-child(even) td { border-top: 0; }'
                    + ' #AutoNumber1 img { width: 100%; height: auto; max-height: 36vh; object-fit: contain; }'
                    + ' #AutoNumber1, #AutoNumber1 > tbody { display: block; }'
                    + ' #AutoNumber1 > tbody.pictarre-entry { break-inside: avoid; }'
                    + ' #AutoNumber1 tr { display: table; width: 100%; table-layout: fixed; break-inside: avoid; }'
                    + ' #AutoNumber1 p { margin: 0.4em 0; } }';

  // The page's folder in the gallery scheme: its rows and pictures are found under it.
  const folder = location.href.split(/[?#]/)[0].replace(/[^/]*$/, '');

  // A picture wider than the paper is printed at the paper's width; a match that find shows
  // is marked as the engine marks its own.
  const style = document.createElement('style');
  style.textContent = '@media print { img { max-width: 100%; height: auto; } }' + printRows
                      + ' .pictarre-found ::selection { background: #ff9632; color: #000; }';
  document.head.appendChild(style);

  const images = document.images;
  // The width a row's picture may take: the view's less what the writer leaves beside it.
  const kRowMargin = 24;
  let room = roomNow();
  const pictures = new model.PictureWindow();
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
    pictures.add(img);
  }

  function updateImages() {
    const {load, release} = pictures.update(images.length, i => images[i], i => images[i].getBoundingClientRect(),
                                            window.innerHeight || 1);
    for (const img of load)
      loadImage(img, 0);
    for (const img of release)
      img.removeAttribute('src');
  }

  // ---- Rows that follow the view's width ----

  // The writer fitted each row's picture to the view's width as it was then; the page fits
  // the rows to the view as it is now, so that a window resized or maximised (also while the
  // page was written) shows every row as wide as the view and nothing beyond it.
  function roomNow() {
    return (window.innerWidth || 0) - kRowMargin;
  }

  function fittedSize(entry) {
    return model.fitRow(entry.width, entry.height, entry.widest, room);
  }

  // Sizes the picture of entry `index`, which is in the page, for the room there is now; on
  // paper it may grow up to its own width.
  function fitEntry(index) {
    const entry = entries[index];
    const img = entry.rows[0].querySelector('img');
    if (!img)
      return;
    const {width, height} = fittedSize(entry);
    if (Number(img.getAttribute('width')) !== width || Number(img.getAttribute('height')) !== height) {
      img.setAttribute('width', width);
      img.setAttribute('height', height);
    }
    img.style.maxWidth = 'min(100%, ' + Math.max(width, entry.widest) + 'px)';
  }

  // After the view's width changed: every entry's height anew, the rows in the page resized.
  function refitRows() {
    const now = roomNow();
    if (now === room)
      return;
    room = now;
    if (entries.length === 0)
      return;
    heights.setPictures(entries.map(entry => fittedSize(entry).height));
    for (let i = first; i < end; ++i)
      fitEntry(i);
    if (first < end)
      measure();
  }

  // ---- Rows ----

  const entries = [];    // {batch, text, rows}
  const heights = new model.Heights();
  const batches = [];    // {first, count, strings, loading, failures}, by number
  let tbody = null;
  let above = null;      // stands for the entries before the ones in the page
  let below = null;      // and for those after them
  let first = 0;         // the entries in the page: [first, end)
  let end = 0;

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
    for (const batch of model.batchesToDrop(batches, first, end))
      batch.strings = null;
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
    for (let i = from, r = 0; i < to; ++i, r += 2) {
      entries[i].rows = rows.slice(r, r + 2);
      fitEntry(i);
    }
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
    const plan = model.planRows(first, end, from, to);
    for (const [a, b] of plan.remove)
      removeEntries(a, b);
    if (plan.insertBefore)
      insertEntries(plan.insertBefore[0], plan.insertBefore[1], entries[plan.insertBefore[1]].rows[0]);
    if (plan.append)
      insertEntries(plan.append[0], plan.append[1], null);
    first = from;
    end = to;
  }

  // Heights of the entries in the page, as laid out.
  function measure() {
    const measured = [];
    for (let i = first; i < end; ++i) {
      const top = entries[i].rows[0].getBoundingClientRect().top;
      const next = i + 1 < end ? entries[i + 1].rows[0].getBoundingClientRect().top
                               : entries[i].rows[1].getBoundingClientRect().bottom;
      measured.push(next - top);
    }
    heights.setMeasured(first, measured);
  }

  // Where the screen's top lies below the top of the rows.
  function screenTop() {
    return -above.getBoundingClientRect().top;
  }

  function updateRows() {
    if (!tbody || entries.length === 0)
      return;
    const h = window.innerHeight || 1;
    const atEnd = window.scrollY > 0
                  && window.scrollY + h >= document.documentElement.scrollHeight - 1;
    const {from, to} = model.chooseRows(heights, {top: screenTop(), screen: h, first, end, keepAll: kKeepAll,
                                                  whole: holdAll});
    // Rows whose markup has not come yet wait for it; the blocks stand in for them meanwhile.
    if ((from !== first || to !== end) && markupHere(from, to)) {
      showEntries(from, to);
      measure();
      dropFarMarkup();
    }
    above.style.height = heights.top(first) + 'px';
    below.style.height = heights.sum(end, entries.length) + 'px';
    if (atEnd)
      window.scrollTo(window.scrollX, document.documentElement.scrollHeight);
  }

  // ---- Find ----

  // In a gallery cut to the screen the engine's find sees only the rows in the page; the
  // dialog asks here instead, where every entry's text is known.
  let found = null;  // a model.Search

  function textOf(index) {
    const entry = entries[index];
    if (entry.shownText === undefined)
      entry.shownText = model.shownText(entry.text);
    return entry.shownText;
  }

  // Brings entry `index` into the page and onto the screen, and selects `length` characters of
  // its link text from `offset`; when its markup is still on its way, once it has come.
  let revealing = null;

  function reveal(index, offset, length) {
    revealing = {index, offset, length};
    const rowsTop = above.getBoundingClientRect().top + window.scrollY;
    window.scrollTo(window.scrollX, rowsTop + heights.top(index) - window.innerHeight / 2);
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
      if (count === 0)
        groupEntries(true);
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

  // On paper an entry's picture and its path stay on one sheet: while the page is printed,
  // each entry's two rows are a section of the table of their own, which is not broken across
  // sheets. (The engine does not keep two rows together otherwise.)
  let grouped = false;

  function groupEntries(group) {
    if (!tbody || group === grouped)
      return;
    grouped = group;
    const table = tbody.parentNode;
    for (let i = first; i < end; ++i) {
      const rows = entries[i].rows;
      if (!rows)
        continue;
      if (group) {
        const section = document.createElement('tbody');
        section.className = 'pictarre-entry';
        section.append(rows[0], rows[1]);
        table.appendChild(section);
      } else {
        const section = rows[0].parentNode;
        tbody.append(rows[0], rows[1]);
        section.remove();
      }
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
    refitRows();
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
    // Batch `number` of entries of the row layout, in page order: each entry's picture height,
    // link text, picture width and the widest its picture may be drawn.
    batch(number, pictureHeights, texts, widths, widest) {
      if ((!tbody && !setUpRows()) || number !== batches.length)
        return;
      const batch = {number, first: entries.length, count: pictureHeights.length, strings: null, loading: false,
                     failures: 0};
      batches.push(batch);
      for (let i = 0; i < pictureHeights.length; ++i) {
        const entry = {batch, text: texts[i], rows: null, width: widths[i], height: pictureHeights[i], widest: widest[i]};
        entries.push(entry);
        heights.add(fittedSize(entry).height);
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
      groupEntries(false);
      holdAll = false;
      printing = false;
      for (const img of pictures.releaseAll())
        img.removeAttribute('src');
      schedule();
    },
    // Finds the next match of `needle` in the gallery's texts; false when the whole gallery is
    // in the page and the engine's own find serves. Gives the match shown (from 1) and the
    // number of matches.
    find(needle, matchCase, backward) {
      if (entries.length <= kKeepAll || holdAll)
        return false;
      if (!found || found.needle !== needle || found.matchCase !== matchCase)
        found = new model.Search(needle, matchCase, model.findHits(entries.length, textOf, needle, matchCase));
      // The first search starts from the top of the screen.
      const current = found.step(backward, heights.entryAt(screenTop()));
      if (current < 0)
        return {active: 0, count: 0};
      const [index, offset] = found.hits[current];
      reveal(index, offset, needle.length);
      return {active: current + 1, count: found.hits.length};
    },
    endFind() {
      found = null;
      revealing = null;
      document.documentElement.classList.remove('pictarre-found');
    },
  };

  // A link to a picture goes to a file: address, which this page may not open: the program
  // opens it in a window of its own, in front or (a middle, Ctrl or Shift click) behind.
  function openLink(event, how) {
    const link = event.target.closest ? event.target.closest('a[href]') : null;
    if (!link || link.protocol !== 'file:')
      return;
    event.preventDefault();
    console.info(protocol.openMarker + how + ' ' + link.href);
  }
  addEventListener('click', (event) => openLink(event, event.ctrlKey || event.shiftKey ? 'background' : 'window'));
  addEventListener('auxclick', (event) => event.button === 1 && openLink(event, 'background'));

  addEventListener('scroll', schedule, {passive: true});
  addEventListener('resize', schedule);
  // While the page is still arriving, every new piece may bring pictures onto the screen.
  const arrivals = new MutationObserver(schedule);
  arrivals.observe(document, {childList: true, subtree: true});
  document.addEventListener('DOMContentLoaded', () => {
    arrivals.disconnect();
    schedule();
  });
})(pictarreProtocol, pictarreModel);
