// The program's compiled-in images live in a static library, so they are
// registered explicitly before the first window needs them.
#pragma once

namespace qv {
void InitAppResources();
}
