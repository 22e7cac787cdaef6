// Loads the gallery's pictures as they come near the screen and lets go of those far from it,
// so the view holds a few screens of pictures whatever the size of the folder. The page gives
// each picture's address in data-src; the pictures follow one another down the page, so the
// ones on screen are found by a binary search over their positions.
(function () {
  'use strict';
  const images = document.images;
  const kNear = 1.5;  // screens above and below the visible one that are loaded
  const kFar = 4;     // screens beyond which a loaded picture is let go again
  const loaded = new Set();
  let scheduled = false;
  let holdAll = false;

  // The picture's address for this page, with the size it is drawn at in device pixels (no
  // longer than `longest` on either side when that is given), so the program can hand over a
  // picture no larger than needed.
  function address(img, longest) {
    const url = new URL(img.dataset.src, location.href);
    let w = Number(img.getAttribute('width')) * window.devicePixelRatio;
    let h = Number(img.getAttribute('height')) * window.devicePixelRatio;
    if (w > 0 && h > 0) {
      const k = longest ? Math.min(1, longest / Math.max(w, h)) : 1;
      url.search = '?w=' + Math.ceil(w * k) + '&h=' + Math.ceil(h * k);
    }
    return url.href;
  }

  function load(index, longest) {
    const img = images[index];
    if (!img.dataset.src)
      return;
    const wanted = address(img, longest);
    if (img.getAttribute('src') !== wanted)
      img.setAttribute('src', wanted);
    loaded.add(index);
  }

  function release(index) {
    images[index].removeAttribute('src');
    loaded.delete(index);
  }

  // The first picture whose bottom edge lies at or below `y` (viewport coordinates).
  function firstEndingBelow(y) {
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

  // The first picture from `from` on whose top edge lies below `y`.
  function firstStartingBelow(from, y) {
    let index = firstEndingBelow(y);
    while (index < images.length && images[index].getBoundingClientRect().top <= y)
      ++index;
    return Math.max(index, from);
  }

  function update() {
    scheduled = false;
    if (holdAll || images.length === 0)
      return;
    const h = window.innerHeight || 1;
    const first = firstEndingBelow(-kNear * h);
    const end = firstStartingBelow(first, (1 + kNear) * h);
    for (let i = first; i < end; ++i)
      load(i, 0);
    const keepFirst = firstEndingBelow(-kFar * h);
    const keepEnd = firstStartingBelow(keepFirst, (1 + kFar) * h);
    for (const i of Array.from(loaded)) {
      if (i < keepFirst || i >= keepEnd)
        release(i);
    }
  }

  function schedule() {
    if (!scheduled) {
      scheduled = true;
      requestAnimationFrame(update);
    }
  }

  // Printing needs every picture: the program asks for all of them (no longer than `longest`
  // pixels, which bounds what a page of large photos holds), waits until none is pending,
  // prints, and then lets the page return to loading by the screen.
  window.pictarreGallery = {
    loadAll(longest) {
      holdAll = true;
      for (let i = 0; i < images.length; ++i)
        load(i, longest);
      return images.length;
    },
    pending() {
      let count = 0;
      for (const img of images) {
        if (img.getAttribute('src') && !img.complete)
          ++count;
      }
      return count;
    },
    resume() {
      holdAll = false;
      for (const i of Array.from(loaded))
        release(i);
      schedule();
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
})();
