#include "ConsoleSession.h"
#include "FuzzInput.h"

#include <vector>

using namespace qz::fuzz;
using qz::serial::ConsoleSession;
using qz::serial::FoundDevice;
using qz::serial::Micros;
using qz::serial::TalkActions;

namespace {

struct Heard {
    std::vector<FoundDevice> devices;
    bool ended = false;
};

// Plays a discovery whose answers are the pieces, each its gap in milliseconds after the
// one before, then lets the time limit pass.
Heard discover(const std::vector<std::pair<int, std::string>>& pieces)
{
    ConsoleSession session({});
    Heard heard;
    const auto take = [&heard](const TalkActions& actions) {
        heard.devices.insert(heard.devices.end(), actions.found.begin(), actions.found.end());
        heard.ended = heard.ended || actions.outcome.has_value();
    };
    take(session.Discover(Micros(0)));
    Micros now(0);
    for (const auto& [gap, bytes] : pieces) {
        now += std::chrono::milliseconds(gap);
        take(session.TimePassed(now));
        take(session.BytesArrived(now, bytes));
    }
    take(session.TimePassed(now + std::chrono::milliseconds(60)));
    take(session.TimePassed(now + qz::serial::DefaultDiscoveryLimit));
    return heard;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FieldReader reader(data, size);
    std::vector<std::pair<int, std::string>> pieces;
    std::string whole;
    while (pieces.size() < 64) {
        const int gap = reader.nextByte() % 8; // well inside the quiet gap
        std::string bytes = reader.next(64);
        if (bytes.empty())
            break;
        whole += bytes;
        pieces.emplace_back(gap, std::move(bytes));
    }
    const Heard heard = discover(pieces);
    require(heard.ended, "a discovery ends by its time limit");
    require(heard.devices.size() <= qz::serial::MostDevices, "devices bounded");
    for (std::size_t i = 0; i < heard.devices.size(); ++i) {
        require(heard.devices[i].address.size() == 12 && qz::AllHexDigits(heard.devices[i].address),
                "an address is 12 upper-case hex digits", heard.devices[i].address);
        for (std::size_t j = 0; j < i; ++j)
            require(heard.devices[i].address != heard.devices[j].address, "each device once", heard.devices[i].address);
    }
    // However the bytes were split, the same devices are heard (while no answer is cut for
    // its length, which depends on what has come so far).
    if (whole.size() <= qz::serial::LongestDiscoveryEntry) {
        const Heard joined = discover({{1, whole}});
        require(joined.devices == heard.devices, "split or joined, the same devices", whole);
    }
    return 0;
}
