#pragma once

#include "platform/browserdialogs.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace pictarre {

// Everything the window asks of the desktop, handed to it at construction so that tests can
// put fakes in place of the modal and outward-reaching parts.
struct Platform {
    Dialogs& dialogs;
    BrowserDialogs& browserDialogs;
    SettingsStore& settings;
    Shell& shell;
    MessageBoxes& messages;
};

}  // namespace pictarre
