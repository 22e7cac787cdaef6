#pragma once

#include "platform/shell.h"

namespace pictarre {

// Carries the shell requests out on the freedesktop desktop: documents and addresses through
// the desktop's handlers, command lines as detached processes.
class DesktopShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest& request) override;
    void runProgram(const QString& commandLine, int windowStyle) override;
};

}  // namespace pictarre
