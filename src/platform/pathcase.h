// Letter case of file names, and joining them: Windows ignores case, most
// other systems do not, and the ledger's names come in whatever case its
// DOS days left them.
#pragma once

#include <string>

namespace qv {

bool FileSystemIgnoresCase();

// The path of an existing entry `name` inside `folder`: the exact path when it
// exists, otherwise one whose components match ignoring letter case (the data
// folder's included). When neither exists, the exact path is returned.
std::string ResolveEntryIgnoringCase(const std::string &folder, const std::string &name);

// Joins a folder and a name with the platform's separator, keeping a
// separator that the folder already ends with.
std::string JoinFsPath(const std::string &folder, const std::string &name);

// A path with the platform's separator ("\" on Windows), as the user is shown it.
std::string ToNativeSeparators(std::string path);

}  // namespace qv
