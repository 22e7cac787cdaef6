#pragma once

#include <string>

#include "gallery/gallery.h"

namespace pictarre {

// Saves the gallery as one web archive file at `target` (MIME multipart/related, as browsers
// open .mht files): the page as it was written, then each picture once, base64-encoded. The
// page names each picture by the Content-ID of its part ("cid:" addresses), which a browser
// resolves inside the archive; its links keep naming the pictures themselves, resolved against
// the page's own file address. A picture that cannot be read keeps its own address. The file is
// written beside `target` and takes its place when whole, with the usual permissions (0666 less
// the umask). False when it could not be written or was stopped.
bool saveArchive(const Gallery& gallery, const std::string& target, const SaveProgress& progress = {});

}  // namespace pictarre
