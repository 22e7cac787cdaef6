#pragma once

#include <functional>

#include "gallery/gallery.h"

class QObject;

namespace pictarre {

// Runs a long save of a gallery (the page with copies of its pictures, or its archive) on a
// worker thread. Its progress reaches `progress` a few times a second and its end reaches
// `done`, both on the thread of `owner`, and only while `owner` lives: a save is never told to
// an object that has gone.
void saveInBackground(QObject* owner, std::function<bool(const SaveProgress&)> save,
                      std::function<void(int done, int total)> progress, std::function<void(bool ok)> done);

}  // namespace pictarre
