#pragma once

#include "platform/desktopshell.h"
#include "platform/messageboxes.h"
#include "platform/platform.h"

namespace pictarre {

// The real platform: Qt's dialogs, QSettings and the freedesktop desktop.
class DesktopPlatform {
public:
    Platform& platform() { return platform_; }

private:
    QtDialogs dialogs_;
    QtBrowserDialogs browserDialogs_;
    QtSettingsStore settings_;
    DesktopShell shell_;
    QtMessageBoxes messages_;
    Platform platform_{dialogs_, browserDialogs_, settings_, shell_, messages_};
};

}  // namespace pictarre
