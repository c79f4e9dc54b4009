// What keeping settings costs: the text conversions, and one put into each real store (an ini
// file rewritten and flushed to disk, an SQLite transaction).

#include "comport/IniFileStore.h"
#include "comport/SettingsText.h"
#include "comport/SqliteRegistryStore.h"

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

} // namespace

BENCHMARK_MAIN();
