#include "app/AppResources.h"

#include <QtGlobal>

static void initGlyphs() { Q_INIT_RESOURCE(glyphs); }

namespace qv {

void InitAppResources()
{
    static const bool done = (initGlyphs(), true);
    (void)done;
}

}  // namespace qv
