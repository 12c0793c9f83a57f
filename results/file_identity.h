#pragma once

#include <sys/stat.h>

#include <string>

namespace orlenta {

// The folder that holds the name `path`: "." for a bare name, "/" for one at the root.
std::string FolderOf(const std::string& path);

// What must hold before a new file may be renamed over an old one, so that nobody can tell the
// two apart but by their content (the rule vim's backupcopy=auto follows). `target` is the old
// file's name, links resolved; `old` its status.

// The rename is allowed and reaches every name of the file: the file has no other hard link,
// is not a mount of its own (a bind-mounted file), and in a sticky folder (/tmp) belongs to
// this user, or the folder does, or the user is root.
bool RenameReachesTheFile(const std::string& target, const struct stat& old);

// Gives the new file `fd` the old file's owner, group, extended attributes (ACLs and security
// labels among them: exactly the old set, nothing inherited from the folder) and mode, in that
// order (a change of owner clears set-user-ID bits and capabilities). False when any of them
// cannot be had, as a user other than root cannot give a file away.
bool TakeOverIdentity(const std::string& target, const struct stat& old, int fd);

}  // namespace orlenta
