#pragma once

#include "upload/FirmwareImage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvinupload {

// An Intel HEX image read from a file, checked line by line before anything is sent: the board's
// Monitor takes each record as raw bytes whose length comes from the byte-count field, so a
// damaged line would not merely be refused, it would desynchronise the line.
class ImageFile {
public:
    ImageFile() = default;
    // lines() points into the records: moving keeps them in place, copying would not.
    ImageFile(ImageFile&&) = default;
    ImageFile& operator=(ImageFile&&) = default;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // The records to send, each as stored in the file (':' and hex digits, no line end).
    // An end-of-file record ends the image and is not among them.
    const std::vector<std::string>& records() const { return records_; }
    // The lines as the upload logic takes them: record n is line n-1.
    upload::ImageLines lines() const { return views_; }
    std::int32_t recordCount() const { return static_cast<std::int32_t>(records_.size()); }
    // Whether the file ends with an end-of-file record. The embedded image has none, so an image
    // is taken without one; but then a file cut short at a line's end cannot be told from a
    // whole one.
    bool endsWithEndOfFileRecord() const { return endOfFile_; }

    // Checks one line (without its line end). Returns what is wrong, or nothing.
    static std::string checkLine(std::string_view line);

    // Reads and checks `text`; what is wrong goes to `error` as "NAME:LINE: what" and the result
    // is empty. `name` is only for messages.
    static ImageFile parse(std::string_view text, const std::string& name, std::string& error);
    // An image for this board holds at most 32 KB of program memory, some 90 KB as Intel HEX;
    // a file larger than this is not one.
    static constexpr std::size_t maxImageBytes = 4 * 1024 * 1024;

    // Reads the file, then as parse(). Only a regular file of at most maxImageBytes is read;
    // anything else is refused in `error` with the file's name and the reason.
    static ImageFile load(const std::string& path, std::string& error);

private:
    static std::optional<std::string> readImageText(const std::string& path, std::string& error);

    std::vector<std::string> records_;
    std::vector<std::string_view> views_;
    bool endOfFile_ = false;
};

} // namespace torvinupload
