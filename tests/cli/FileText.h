#pragma once

// A file's bytes, whole, for tests that look at what qzconfig wrote or read.

#include <fstream>
#include <sstream>
#include <string>

namespace qz::test {

inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace qz::test
