// Shell shortcuts (.LNK files): on the desktop or in a desktop folder with
// its own icon, in the product's start-menu folder, in the Startup folder,
// and to the uninstaller.
//
// Links are made through the shell's link object (IShellLinkA and
// IPersistFile); COM must already be initialised for the thread.
//
// What the uninstaller finds (uninstall list, see runtime/uninstall_list.h):
//  - every created link as a file line, unless its request is permanent;
//    the uninstaller's own shortcuts are always recorded;
//  - for a desktop folder: the folder as a directory line, its "Desktop.ini"
//    as a file line, and, when the archive carries a folder icon,
//    "Desktop Icon.ico" in the uninstall directory as a file line;
//  - nothing for the start-menu folder itself: the uninstaller removes the
//    folder named by ProductStartMenu (and its empty parents) on its own.
//
// With flag bit 20 every created link is reported in the install log text:
//   "Desktop Shortcut(name) -> link", "Desktop Folder Shortcut(name) -> link",
//   "Start Menu Shortcut(name) -> link", "Startup Shortcut(name) -> link",
//   "Uninstaller Shortcut -> link".
// A link name (with the start-menu or desktop folder name in front) that is
// not IsSafeLinkName is refused with ERROR_INVALID_NAME, so no link lands
// outside the folder it belongs in.
// A link that cannot be made adds the file-failure entry (message 31, the
// link path, the system's text) to the error text; the step goes on.
#pragma once
#include <stdint.h>

#include "archive/settings.h"
#include "core/containers.h"
#include "core/string.h"

struct Run;

// Creates one link at linkPath. ".LNK" is appended to linkPath in place
// unless it already ends in ".lnk" (any case), and the link's folder is
// created. The icon is icon (index 0), or target when icon is empty;
// arguments and working directory are set only when not empty. True when
// the link was saved; on failure the thread's last error says why (the
// failing HRESULT, or ERROR_FILENAME_EXCED_RANGE for a link path longer than
// 260 characters).
[[nodiscard]] bool CreateShortcut(String& linkPath, const char* target, const char* arguments,
                                  const char* workingDirectory, const char* icon);

// linkPath = the desktop folder of the scope joined with name; CreateShortcut.
bool CreateDesktopShortcut(const char* name, const char* target, const char* arguments,
                           const char* workingDirectory, const char* icon, bool allUsers, String& linkPath);

// linkPath = the start-menu programs folder of the scope joined with name;
// CreateShortcut. On Windows 95 and 98 with allUsers, the same link is also
// made in the current user's programs folder when that path differs (ASCII
// case folded); secondLinkPath then names it, else it is empty. The result
// is that of the first link.
bool CreateStartMenuShortcut(const char* name, const char* target, const char* arguments,
                             const char* workingDirectory, const char* icon, bool allUsers, String& linkPath,
                             String& secondLinkPath);

// The installation step for the run: the archive's shortcut records
// (settings.shortcuts), then the entries' requests, in order, then the
// uninstaller's shortcuts (flag bits 2 with 1, 33 and 38; the uninstaller's
// desktop link, bits 2 and 33, is made like the last request). Neither list
// is changed. Reads the scope (ShortcutMode, kShortcutModeAllUsers: all
// users), ProductStartMenu, the desktop-folder name and icon, the
// uninstaller file name and uninstallName from settings; messages 33 and 38;
// the run's install and uninstall directories.
// Returns true when a desktop or desktop-folder link was requested, so the
// end of the installation notifies the shell that the desktop changed
// (RefreshDesktop of the scope, after the uninstall registration).
[[nodiscard]] bool CreateShortcuts(Run& run, const ArchiveSettings& settings,
                                   const Array<ShortcutRecord>& entryRequests);
