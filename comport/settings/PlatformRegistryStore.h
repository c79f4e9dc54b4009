#pragma once

// The registry store of the platform: the system's registry on Windows, an SQLite database
// standing in for it elsewhere. Both open a key by (location, key path, access): the location is
// the hive on Windows ("HKEY_CURRENT_USER"), the database file elsewhere.

#ifdef _WIN32
#include "comport/settings/Win32RegistryStore.h"
namespace comport {
using TPlatformRegistryStore = TWin32RegistryStore;
}
#else
#include "comport/settings/SqliteRegistryStore.h"
namespace comport {
using TPlatformRegistryStore = TSqliteRegistryStore;
}
#endif
