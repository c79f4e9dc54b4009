#include "comport/settings/SettingsFiles.h"

#include "comport/CustomComPort.h"
#include "comport/settings/IniFileStore.h"
#include "comport/settings/PlatformRegistryStore.h"
#include "framework/FileIO.h"

#include <memory>

namespace comport {

namespace {

// Reports a store's failure as the port's error `number`. Returns when an OnException handler
// took the report; otherwise the raised EComPort carries the store's own message as detail.
void reportStoreFailure(TCustomComPort& port, int number, const fw::Exception& cause) {
    const auto* file = dynamic_cast<const fw::EFileError*>(&cause);
    try {
        port.reportError(static_cast<std::uint16_t>(number), file ? file->errorCode() : 0);
    } catch (const EComPort& reported) {
        std::string detail = cause.message();
        if (const auto* reg = dynamic_cast<const ERegistryException*>(&cause);
            reg && !reg->detail().empty()) {
            detail += " (" + reg->detail() + ")";
        }
        throw ESettingsStoreError(reported, detail);
    }
}

// Runs open-and-operate; store failures become the port's error `number`, or `openNumber` while
// the store is being opened. The port's own errors (EComPort) were reported where they arose.
template <typename Store, typename Open, typename Operate>
void withStore(TCustomComPort& port, int openNumber, int number, Open open, Operate operate) {
    std::unique_ptr<Store> store;
    try {
        store = open();
    } catch (const EComPort&) {
        throw;
    } catch (const fw::Exception& e) {
        reportStoreFailure(port, openNumber, e);
        return;
    }
    try {
        operate(*store);
    } catch (const EComPort&) {
        throw;
    } catch (const fw::Exception& e) {
        reportStoreFailure(port, number, e);
    }
}

// Runs a write operation as one update of the store: one write to disk for all rows. After a
// failure what was put is still written, as a write straight to the store would have left it;
// a second failure while doing so must not hide the first, which is the one reported.
template <typename Store, typename Write> void inOneUpdate(Store& store, Write write) {
    store.beginUpdate();
    try {
        write();
    } catch (...) {
        try {
            store.endUpdate();
        } catch (const fw::Exception&) {
        }
        throw;
    }
    store.endUpdate();
}

} // namespace

void saveSettingsToIniFile(TCustomComPort& port, const std::string& path) {
    withStore<TIniFileStore>(
        port, storeFailedError, storeFailedError,
        [&] { return std::make_unique<TIniFileStore>(path); },
        [&](TIniFileStore& store) { inOneUpdate(store, [&] { port.writeSettingsToIni(store); }); });
}

void loadSettingsFromIniFile(TCustomComPort& port, const std::string& path) {
    withStore<TIniFileStore>(
        port, loadFailedError, loadFailedError,
        [&] { return std::make_unique<TIniFileStore>(path); },
        [&](TIniFileStore& store) { port.readSettingsFromIni(store); });
}

void saveSettingsToRegistry(TCustomComPort& port, const std::string& databasePath,
                            std::string_view keyPath) {
    withStore<TPlatformRegistryStore>(
        port, registryError, storeFailedError,
        [&] {
            return std::make_unique<TPlatformRegistryStore>(
                databasePath, keyPath, TPlatformRegistryStore::accessReadWrite);
        },
        [&](TPlatformRegistryStore& store) {
            inOneUpdate(store, [&] { port.writeSettingsToRegistry(store); });
        });
}

void loadSettingsFromRegistry(TCustomComPort& port, const std::string& databasePath,
                              std::string_view keyPath) {
    withStore<TPlatformRegistryStore>(
        port, registryError, loadFailedError,
        [&] {
            return std::make_unique<TPlatformRegistryStore>(databasePath, keyPath,
                                                            TPlatformRegistryStore::accessRead);
        },
        [&](TPlatformRegistryStore& store) { port.readSettingsFromRegistry(store); });
}

} // namespace comport
