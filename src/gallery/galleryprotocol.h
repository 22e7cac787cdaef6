#pragma once

#include <cstddef>
#include <string_view>

// The boundary between the program and the script of the gallery page, in one place. The
// program writes picture.htm and keeps what it wrote in memory (Gallery); the browser view is
// given the page through the gallery scheme, with the script and these values put before it.
//
// How a picture gets from disk to the screen:
//  1. The page writer writes each entry into picture.htm and into the view's Gallery, with the
//     picture's size (its header is read there, in the writer, also for the flowing layout).
//  2. The window hands the Gallery to its view, which publishes it under an address of its own:
//     pictarre:/<token>/picture.htm, the token 128 random bits. The view accepts no other
//     navigation into the scheme.
//  3. The scheme answers that address with the served page (ServedPage): the prologue (the
//     page's base address, this configuration and the page script), then the page as written,
//     except that every picture's src became data-src with data-n, its entry's number, and
//     that the table rows of the row layout come as batch calls (kBatchCall) holding only each
//     picture's height and link text.
//  4. The page script keeps in the table only the rows near the screen; for a batch it needs it
//     asks pictarre:/<token>/rows?batch=K, answered with a rows call (kRowsCall) holding the
//     batch's markup, made from the Gallery.
//  5. For a picture near the screen the script sets src to pictarre:/<token>/pic/N?w=W&h=H,
//     the size it is drawn at in device pixels. The scheme answers with a copy decoded at that
//     size when the original is much larger, else with the file's own bytes.
// Every other address under the scheme is refused.
namespace pictarre::protocol {

// Addresses under the page's folder address, pictarre:/<token>/.
inline constexpr std::string_view kRowsName = "rows";   // rows?batch=K
inline constexpr std::string_view kBatchKey = "batch";
inline constexpr std::string_view kPictureName = "pic";  // pic/N?w=W&h=H
inline constexpr std::string_view kWidthKey = "w";
inline constexpr std::string_view kHeightKey = "h";

// The page script's object and its entry points.
inline constexpr std::string_view kScriptObject = "pictarreGallery";
// batch(K, [heights], [texts], [widths], [widest]): batch K of row entries, in page order,
// without its markup; the widths as written and the widest each picture may be drawn, so that
// the page can fit the rows to a view of another width.
inline constexpr std::string_view kBatchCall = "pictarreGallery.batch";
// rows(K, [markup]): the markup of batch K, one string for each entry.
inline constexpr std::string_view kRowsCall = "pictarreGallery.rows";
// Printing: loadAll(longest) asks for every row and every picture, no longer than `longest`
// pixels a side; the page then tells the program its steps as console messages, each
// kPrintMarker followed by "progress N" (N pictures have come), "ready" (all of them) or
// "failed" (some rows cannot come); resume() returns to following the screen.
inline constexpr std::string_view kLoadAllCall = "pictarreGallery.loadAll";
inline constexpr std::string_view kResumeCall = "pictarreGallery.resume";
inline constexpr std::string_view kPrintMarker = "pictarre-print:";
// A link to a file, which the page may not open itself, clicked: kOpenMarker followed by
// "window " (a window in front) or "background " (one behind) and the link's address.
inline constexpr std::string_view kOpenMarker = "pictarre-open:";
// find(needle, matchCase, backward) and endFind(): find over every entry's link text.
inline constexpr std::string_view kFindCall = "pictarreGallery.find";
inline constexpr std::string_view kEndFindCall = "pictarreGallery.endFind";

// Batches: the first is small, so that the first screen does not wait for a large one; a
// batch also ends once its link texts reach kBatchBytes, which bounds every answer.
inline constexpr std::size_t kFirstBatch = 4;
inline constexpr std::size_t kBatch = 512;
inline constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
// Entries a gallery may have and still stay whole in the page.
inline constexpr std::size_t kKeepAll = 500;

}  // namespace pictarre::protocol
