#pragma once

#include <cstdint>
#include <string>

namespace pictarre {

// The state the window's commands share. Paths and the list text are native bytes, as the file
// system gives them.
struct SharedState {
    std::string CurrentFolder;
    std::int32_t PictureCount = 0;
    std::string ImageListText;
    bool UseSearchList = false;
    bool ListLayout = false;
    bool Unloading = false;
};

}  // namespace pictarre
