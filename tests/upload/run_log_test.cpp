// The run log's record as it lands in the file.
#include "frontend/runlog/RunLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace runlog;

namespace {

RunRecord sample() {
    RunRecord r;
    // 2026-12-08 00:55:12.345 UTC
    r.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796691312345));
    r.program = "torvin-upload";
    r.port = "COM1";
    r.device = "/dev/ttyS0";
    r.image = "embedded";
    r.imageSha256 = sha256OfLines(std::vector<std::string_view>{"abc"});
    r.imageRecords = 1974;
    r.outcome = "PLACA NÃO RESPONDE !";
    r.exitStatus = 2;
    r.recordsAcknowledged = 6;
    r.resends = 4;
    r.refusals = 1;
    r.duration = std::chrono::milliseconds(12345);
    return r;
}

std::vector<std::string> lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(file, line);)
        result.push_back(line);
    return result;
}

} // namespace

TEST(RunLog, ARecordIsOneLineOfJsonWithEveryField) {
    const auto json = nlohmann::json::parse(jsonLine(sample()));
    EXPECT_EQ(json, nlohmann::json::parse(R"({
        "started": "2026-12-08T00:55:12.345Z", "program": "torvin-upload",
        "version": ")" + programVersion() +
                                          R"(", "port": "COM1", "device": "/dev/ttyS0",
        "adapter_serial": null, "image": "embedded", "image_path": null,
        "image_sha256": "edeaaff3f1774ad2888673770c6d64097e391bc362d7d6fb34982ddf0efd18cb",
        "image_records": 1974, "image_warning": null, "outcome": "PLACA NÃO RESPONDE !", "exit_status": 2,
        "records_acknowledged": 6, "resends": 4, "refusals": 1, "seconds": 12.345})"));
    EXPECT_EQ(jsonLine(sample()).find('\n'), std::string::npos);

    RunRecord odd = sample();
    odd.adapterSerial = "A9X1";
    odd.imagePath = "/home/tech/new.hex";
    odd.imageWarning = "no end-of-file record";
    odd.port = "/dev/\xff"; // a path that is no UTF-8 still gives a record
    const auto oddJson = nlohmann::json::parse(jsonLine(odd));
    EXPECT_EQ(oddJson["adapter_serial"], "A9X1");
    EXPECT_EQ(oddJson["image_path"], "/home/tech/new.hex");
    EXPECT_EQ(oddJson["image_warning"], "no end-of-file record");
    EXPECT_EQ(oddJson["port"], "/dev/\xEF\xBF\xBD");
}

TEST(RunLog, RunsAreAppendedAndAFileThatCannotBeKeptIsAnError) {
    testsupport::TempDir dir;
    const std::string path = dir.file("runs.jsonl");
    std::ofstream(path) << "{\"earlier\":true}\n";
    {
        RunLog log(path);
        log.append(sample());
        log.append(sample());
    }
    const auto written = lines(path);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1], jsonLine(sample()));

    try {
        RunLog missing(dir.file("no/such/folder/runs.jsonl"));
        ADD_FAILURE() << "opened a log in a missing folder";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open the run log " +
                                             dir.file("no/such/folder/runs.jsonl") +
                                             ": No such file or directory");
    }
    // A full disk: the write fails and says so.
    RunLog full("/dev/full");
    EXPECT_THROW(full.append(sample()), std::runtime_error);
}
