// Finding the console menu by name in the host's menu table, shared by
// command execution and the selection.
#pragma once

#include "host/entry_points.h"

namespace quorvane {

// The host string "Console", created on first use and kept for the life of
// the process. Null while it could not be created (the plugin's heap gave no
// storage); a later call tries again. Safe to call from several threads at
// once, with or without ConsoleLock: it is created exactly once.
host::StringCacheRef* CreateConsoleMenuName();

// The menu named name in the menu manager's table, with one reference taken
// for the caller, or null. A null manager, a null name or a name without text
// is no menu.
void* LookUpMenu(host::MenuManager* menuManager, const host::StringCacheRef* name);

// Gives back the reference that LookUpMenu took and clears holder; nothing
// for a null holder.
void ReleaseMenu(void*& holder);

// Holds a menu from LookUpMenu for a scope: ReleaseMenu on every way out.
struct MenuHolder {
    void* menu;
    ~MenuHolder() { ReleaseMenu(menu); }
};

// Forgets the name so that the next use creates it again. Only for tests,
// which each need a process that has not used the name yet.
void ForgetConsoleMenuNameForTesting();

} // namespace quorvane
