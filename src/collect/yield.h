#pragma once

#include <functional>

namespace pictarre {

// The window's turn during long work (the search, the page write): called between entries, it
// returns true to go on and false to stop, the window being about to close. The window decides
// how often it really lets its events in.
using YieldFn = std::function<bool()>;

}  // namespace pictarre
