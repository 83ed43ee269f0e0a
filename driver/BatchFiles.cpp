#include "BatchFiles.h"

#include "RecordAddress.h"
#include "RecordDatabase.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qz {

std::string BatchFileProblem(const std::string& path, BatchFile kind)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(fs::path(path), error);
    if (status.type() == fs::file_type::not_found) {
        if (kind == BatchFile::Values)
            return {}; // reading it says so
        const fs::path folder = fs::absolute(fs::path(path), error).parent_path();
        if (!fs::is_directory(folder, error))
            return "its folder " + folder.string() + " does not exist";
        return {};
    }
    if (status.type() == fs::file_type::directory)
        return kind == BatchFile::Values ? "a folder, not a CSV file" : "a folder, not a file";
    if (status.type() != fs::file_type::regular)
        return "not a regular file: a device, a FIFO or a socket holds no CSV file";
    // A record that cannot be read would pass for an empty one, and get a second header.
    if (kind == BatchFile::Record && !std::ifstream(path, std::ios::binary))
        return "cannot read it: " + std::string(std::strerror(errno));
    return {};
}

std::unique_ptr<BatchRecord> MakeRecord(const std::string& record, bool retryFailed)
{
    if (!IsDatabaseAddress(record))
        return std::make_unique<RecordFile>(record);
    return std::make_unique<RecordDatabase>(std::get<DatabaseAddress>(ReadDatabaseAddress(record)), BenchName(),
                                            retryFailed);
}

std::string ReadBatchReport(const std::string& record, batch::Report& report)
{
    if (IsDatabaseAddress(record)) {
        auto address = ReadDatabaseAddress(record);
        if (const auto* why = std::get_if<std::string>(&address))
            return *why;
        RecordDatabase database(std::get<DatabaseAddress>(std::move(address)), BenchName(), false);
        std::string why;
        if (database.take(why) != BatchRecord::Taken::Yes)
            return why;
        return database.report(report);
    }
    // Rows are only ever added: a record a batch is writing reads as far as it is written.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(record), error))
        return "no such file";
    if (const std::string problem = BatchFileProblem(record, BatchFile::Record); !problem.empty())
        return problem;
    std::ifstream file(record, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        return "cannot read it: " + std::string(std::strerror(errno));
    return batch::ReadReport(text, report);
}

} // namespace qz
