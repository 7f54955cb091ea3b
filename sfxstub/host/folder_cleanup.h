// Removing a working folder: its entries, then the folder itself.
#ifndef SFXSTUB_HOST_FOLDER_CLEANUP_H_
#define SFXSTUB_HOST_FOLDER_CLEANUP_H_

#include <cstdint>
#include <string>

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
// A folder link (junction or symbolic link) met while recursing is removed as a link; what it
// points to is never entered.
int32_t DeleteFolderFiles(const std::string& folderPattern, const char* filePattern, bool recurse);

}  // namespace sfx

#endif  // SFXSTUB_HOST_FOLDER_CLEANUP_H_
