// The program's own interaction: Qt dialogs, and log windows of its own kind.
#pragma once

#include "platform/interaction.h"

namespace qv {

class AppInteraction : public QtInteraction {
public:
    LogWindow *openLogWindow() override;
};

// Creates a log window and makes it the program-wide newest one.
LogWindow *OpenLogWindow();

}  // namespace qv
