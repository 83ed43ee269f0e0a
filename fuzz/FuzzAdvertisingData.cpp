#include "AdvertisingData.h"
#include "FuzzInput.h"

#include <memory>

using namespace qz;
using namespace qz::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool previous = true;
    for (std::size_t count = 0; count <= text.size(); ++count) {
        // A buffer of exactly count bytes: a read at or past the count is out of bounds.
        const auto exact = std::make_unique<char[]>(count == 0 ? 1 : count);
        text.copy(exact.get(), count);
        const std::string_view bounded(exact.get(), count);
        const bool valid = IsValidAdvertisingData(bounded, count);
        require(valid == IsValidAdvertisingData(text, count), "nothing past the count is read");
        require(valid == IsValidAdvertisingData(bounded, count), "same input, same answer");
        if (count < 2)
            require(valid, "no whole byte is valid data");
        if (count % 2 == 1)
            require(valid == previous, "an odd last character is ignored");
        previous = valid;
    }
    return 0;
}
