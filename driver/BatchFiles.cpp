#include "BatchFiles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

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

} // namespace qz
