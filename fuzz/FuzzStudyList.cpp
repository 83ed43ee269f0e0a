#include "FuzzInput.h"
#include "StudyList.h"

using namespace qz;
using namespace qz::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FieldReader reader(data, size);
    const int uuidType = static_cast<int>(reader.nextByte() % 4) - 1;
    const std::string notify = reader.next();
    const std::string write = reader.next();

    const GeneratorResult result = BuildStudyList(uuidType, notify, write);
    const bool shortForm = uuidType == UUIDType16Bit;
    requireWellFormed(result, shortForm ? 27 : 30,
                      {"Please fill in all fields", "Please input correct included \"Notify\" Characteristic!",
                       "Please input correct included \"Write\" or \"WriteWithoutResponse\" Characteristic!",
                       "Those two Characteristics is defferent more than 1 Bytes, We cant use it!"},
                      {Field::None, Field::StudyNotify, Field::StudyWrite});
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        const bool comparison = rejection->message.rfind("Those two", 0) == 0;
        require(comparison == (rejection->field == Field::None), "only the comparison names no field");
        require(!comparison || !shortForm, "16-bit UUIDs are never compared");
    } else {
        const CommandList& lines = std::get<CommandList>(result);
        if (shortForm) {
            requireHexParameter(lines[11], "AT+UUID0x", 4);
            requireHexParameter(lines[12], "AT+CHAR0x", 4);
        } else {
            for (int piece = 0; piece < 4; ++piece)
                requireHexParameter(lines[static_cast<std::size_t>(11 + piece)], "AT+IBE" + std::to_string(piece), 8);
            requireHexParameter(lines[15], "AT+CHAR0x", 4);
        }
    }
    requireSameAnswer(result, BuildStudyList(uuidType, notify, write));

    const std::string good = shortForm ? "FFE2" : "0000FFE2-0000-1000-8000-00805F9B34FB";
    requireAgreement(ExplainCharacteristic(uuidType, notify), BuildStudyList(uuidType, notify, good),
                     Field::StudyNotify, notify);
    requireAgreement(ExplainCharacteristic(uuidType, write), BuildStudyList(uuidType, good, write),
                     Field::StudyWrite, write);
    return 0;
}
