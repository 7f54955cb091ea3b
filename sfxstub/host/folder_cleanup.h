// Removing a working folder: its entries, then the folder itself.
#ifndef SFXSTUB_HOST_FOLDER_CLEANUP_H_
#define SFXSTUB_HOST_FOLDER_CLEANUP_H_

#include <cstdint>
#include <string>

#include "sfxstub/host/working_folder.h"

namespace sfx {

// For every folder matching `folderPattern` (whose last component may hold wildcards; a plain
// path names that one folder): deletes the entries matching `filePattern` inside it, then
// removes the folder. With `recurse`, matching subfolders are cleaned and removed the same way;
// without it a subfolder stays (its deletion fails), and so does the folder holding it.
//
// Nothing is forced: no attributes are changed, so read-only and open files stay, and with them
// their folders. Failures never stop the work. Returns the error number of the last deletion or
// removal that failed, 0 when none did or nothing matched.
//
// Links are never followed: a folder link (junction, mount point or symbolic link) that matches
// the folder pattern, or stands among the entries, is removed as a link and what it points to is
// never entered; files are deleted by name, which deletes a file link itself, not its target.
int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern, bool recurse);

// DeleteFolderFiles for the one folder made by CreateWorkingFolder, which must still be that
// folder. It is opened as itself and held so that nobody can rename it while its entries are
// deleted; if what stands at `folder` is a link, only the link is removed, and if it is another
// folder than `identity` names, nothing is touched (ERROR_DIRECTORY, 267). An unknown identity
// falls back to DeleteFolderFiles. A folder that no longer exists gives 0.
int32_t DeleteWorkingFolder(const std::string& folder, const FolderIdentity& identity,
                            const char* filePattern, bool recurse);

}  // namespace sfx

#endif  // SFXSTUB_HOST_FOLDER_CLEANUP_H_
