// torvin-upload: writes the firmware image into a Torvin04/05 board over a serial line, with the
// same upload logic as the updater's window. `torvin-upload --help` tells the rest.

#include "cli/common/CommandLine.h"
#include "cli/torvin-upload/Batch.h"
#include "cli/torvin-upload/Console.h"
#include "cli/torvin-upload/ImageFile.h"
#include "cli/torvin-upload/ListPorts.h"
#include "cli/torvin-upload/Options.h"
#include "framework/Translation.h"
#include "frontend/RunDevice.h"
#include "frontend/UserLanguage.h"
#include "frontend/runlog/RunLog.h"
#include "upload/FirmwareImage.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace torvinupload;

namespace {

int status(ExitStatus s) {
    return static_cast<int>(s);
}

int dumpImage() {
    writeBytesAsStored();
    for (std::string_view line : upload::firmwareImage()) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("torvin-upload: writing the image");
        return status(ExitStatus::failed);
    }
    return status(ExitStatus::completed);
}

// `name` (UTF-8, as the arguments are on every platform) as an absolute path, in UTF-8; the name
// itself when the working folder cannot be known.
std::string absolutePath(const std::string& name) {
    std::error_code failed;
    const auto path = std::filesystem::absolute(
        std::filesystem::path(std::u8string(name.begin(), name.end())), failed);
    if (failed) return name;
    const std::u8string text = path.lexically_normal().u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

int main(int argc, char** argv) {
    prepareConsole();
    upload::frontend::useUserLanguage();

    const ParsedOptions parsed = parseOptions(programArguments(argc, argv));
    if (!parsed.error.empty()) return toolcommon::usageError("torvin-upload", parsed.error);
    const Options& options = parsed.options;
    if (options.version) return toolcommon::printVersion("torvin-upload");
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return status(ExitStatus::completed);
    }
    if (options.dumpImage) return dumpImage();
    if (options.listPorts) return status(listPorts(stdout, stderr));

    BatchRequest request;
    request.ports = options.ports;
    request.quiet = options.quiet;
    request.trace = options.trace;
    ImageFile file;
    if (options.imageFile) {
        std::string error;
        file = ImageFile::load(*options.imageFile, error);
        if (!error.empty()) {
            std::fprintf(stderr, "torvin-upload: %s\n%s\n", error.c_str(),
                         fw::tr("Nothing was sent.").c_str());
            return status(ExitStatus::badImage);
        }
        request.image = file.lines();
        request.totalRecords = file.recordCount();
        if (!file.endsWithEndOfFileRecord()) {
            request.imageWarning = "no end-of-file record: if the file was cut short, the board "
                                   "gets only part of it";
            // The run's record keeps the English words; the user reads them in theirs.
            std::fprintf(stderr, "torvin-upload: %s\n",
                         fw::tr("no end-of-file record: if the file was cut short, the board "
                                "gets only part of it")
                             .c_str());
        }
    } else {
        request.image = upload::firmwareImage();
        request.totalRecords = upload::firmwareRecordCount;
    }
    std::unique_ptr<runlog::RunLog> log;
    if (options.logFile) {
        try {
            log = std::make_unique<runlog::RunLog>(*options.logFile);
            request.imageName = options.imageFile.value_or("embedded");
            // Records appended from several folders name the same file in several ways.
            if (options.imageFile) request.imagePath = absolutePath(*options.imageFile);
            request.imageSha256 = options.imageFile ? runlog::sha256OfFile(*options.imageFile)
                                                    : runlog::sha256OfLines(request.image);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "torvin-upload: %s\n%s\n", e.what(),
                         fw::tr("Nothing was sent. Give a --log file that can be written, or "
                                "leave --log out.")
                             .c_str());
            return status(ExitStatus::logUnusable);
        }
        request.log = log.get();
        request.adapterSerial = upload::frontend::adapterSerialOf;
    }
    return status(uploadBoards(request));
}
