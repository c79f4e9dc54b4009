// What keeping settings costs: the text conversions, and one put into each real store (an ini
// file rewritten and flushed to disk, an SQLite transaction).

#include "comport/ComPort.h"
#include "comport/settings/IniFileStore.h"
#include "comport/settings/SettingsFiles.h"
#include "comport/settings/SettingsText.h"
#include "comport/settings/SqliteRegistryStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace comport;

namespace {

std::string scratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-settings-XXXXXX");
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
}

void textToValue(benchmark::State& state) {
    const std::vector<std::string> texts{"9600", "custom", "115200", "9600 ", "", "256000"};
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(baudRateFromText(texts[i++ % texts.size()]));
}
BENCHMARK(textToValue);

void characterText(benchmark::State& state) {
    int code = 0;
    for (auto _ : state) {
        const std::string text = charText(static_cast<char>(code++));
        benchmark::DoNotOptimize(charFromText(text));
    }
}
BENCHMARK(characterText);

void iniFilePut(benchmark::State& state) {
    const std::string dir = scratchDir();
    TIniFileStore store(dir + "/port.ini");
    for (int i = 0; i < 28; ++i)
        store.putText("ComPort1", "Key" + std::to_string(i), "value");
    int n = 0;
    for (auto _ : state)
        store.putInteger("ComPort1", "Key7", n++);
    std::filesystem::remove_all(dir);
}
BENCHMARK(iniFilePut)->Unit(benchmark::kMicrosecond);

void registryPut(benchmark::State& state) {
    const std::string dir = scratchDir();
    TSqliteRegistryStore store(dir + "/registry.db", "Software\\Torvin",
                               TSqliteRegistryStore::accessReadWrite);
    int n = 0;
    for (auto _ : state)
        store.putInteger("Buffer.InputSize", n++);
    std::filesystem::remove_all(dir);
}
BENCHMARK(registryPut)->Unit(benchmark::kMicrosecond);

constexpr TStoredProps allGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

// All 28 rows of a port, each put written to the file on its own.
void portToIniRowByRow(benchmark::State& state) {
    const std::string dir = scratchDir();
    TComPort port;
    port.setName("ComPort1");
    port.setStoredProps(allGroups);
    TIniFileStore store(dir + "/port.ini");
    for (auto _ : state)
        port.writeSettingsToIni(store);
    std::filesystem::remove_all(dir);
}
BENCHMARK(portToIniRowByRow)->Unit(benchmark::kMillisecond);

// The same through the helper: one update, one write.
void portToIniFile(benchmark::State& state) {
    const std::string dir = scratchDir();
    TComPort port;
    port.setName("ComPort1");
    port.setStoredProps(allGroups);
    for (auto _ : state)
        saveSettingsToIniFile(port, dir + "/port.ini");
    std::filesystem::remove_all(dir);
}
BENCHMARK(portToIniFile)->Unit(benchmark::kMillisecond);

void portToRegistry(benchmark::State& state) {
    const std::string dir = scratchDir();
    TComPort port;
    port.setStoredProps(allGroups);
    for (auto _ : state)
        saveSettingsToRegistry(port, dir + "/registry.db", "Software\\Torvin");
    std::filesystem::remove_all(dir);
}
BENCHMARK(portToRegistry)->Unit(benchmark::kMillisecond);

void portFromRegistry(benchmark::State& state) {
    const std::string dir = scratchDir();
    TComPort port;
    port.setStoredProps(allGroups);
    saveSettingsToRegistry(port, dir + "/registry.db", "Software\\Torvin");
    for (auto _ : state)
        loadSettingsFromRegistry(port, dir + "/registry.db", "Software\\Torvin");
    std::filesystem::remove_all(dir);
}
BENCHMARK(portFromRegistry)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
