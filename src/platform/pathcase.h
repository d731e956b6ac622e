// Letter case of file names: Windows ignores it, most other systems do not.
#pragma once

#include <QString>

namespace qv {

bool FileSystemIgnoresCase();

// The path of an existing entry `name` inside `folder`: the exact path when it
// exists, otherwise one whose components match ignoring letter case (the data
// folder's included). When neither exists, the exact path is returned.
QString ResolveEntryIgnoringCase(const QString &folder, const QString &name);

// Joins a folder and a name with the platform's separator, keeping a
// separator that the folder already ends with.
QString JoinFsPath(const QString &folder, const QString &name);

}  // namespace qv
