#include "app/AppInteraction.h"

#include "app/TForm_Zawartosc.h"

namespace qv {

LogWindow *OpenLogWindow()
{
    auto *window = new TForm_Zawartosc();
    Form_Zawartosc = window;
    return window;
}

LogWindow *AppInteraction::openLogWindow() { return OpenLogWindow(); }

}  // namespace qv
