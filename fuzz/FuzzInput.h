#pragma once

// Turns a fuzzer's bytes into generator fields and checks the properties that every
// answer must have. A broken property aborts, so that libFuzzer and the replay both stop.

#include "FieldExplanations.h"
#include "FieldRules.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qz::fuzz {

// Reads fields off the input: each is one length byte and then up to that many bytes.
class FieldReader {
public:
    FieldReader(const std::uint8_t* data, std::size_t size)
        : bytes_(reinterpret_cast<const char*>(data), size)
    {
    }

    std::string next(std::size_t maxLength = 255)
    {
        if (bytes_.empty())
            return {};
        const std::size_t wanted = static_cast<unsigned char>(bytes_.front()) % (maxLength + 1);
        bytes_.remove_prefix(1);
        const std::size_t length = wanted < bytes_.size() ? wanted : bytes_.size();
        std::string field(bytes_.substr(0, length));
        bytes_.remove_prefix(length);
        return field;
    }

    std::uint8_t nextByte()
    {
        if (bytes_.empty())
            return 0;
        const auto byte = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return byte;
    }

private:
    std::string_view bytes_;
};

[[noreturn]] inline void fail(const char* property, std::string_view detail = {})
{
    std::fprintf(stderr, "property broken: %s [%.*s]\n", property, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void require(bool holds, const char* property, std::string_view detail = {})
{
    if (!holds)
        fail(property, detail);
}

inline bool isUpperHex(std::string_view text)
{
    return AllHexDigits(text);
}

// A line that starts with the command and carries exactly digitCount upper-case hex digits.
inline void requireHexParameter(const std::string& line, std::string_view command, std::size_t digitCount)
{
    require(line.compare(0, command.size(), command) == 0, "command word in place", line);
    const std::string_view parameter = std::string_view(line).substr(command.size());
    require(parameter.size() == digitCount && isUpperHex(parameter), "upper-case hex parameter", line);
}

// Exactly one alternative, with a known message and field, or a list of the right length
// whose lines hold no line break.
inline void requireWellFormed(const GeneratorResult& result, std::size_t lineCount,
                              std::initializer_list<std::string_view> messages, std::initializer_list<Field> fields)
{
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        bool knownMessage = false;
        for (std::string_view message : messages)
            knownMessage = knownMessage || rejection->message == message;
        require(knownMessage, "known message", rejection->message);
        bool knownField = false;
        for (Field field : fields)
            knownField = knownField || rejection->field == field;
        require(knownField, "field of the page", rejection->message);
        return;
    }
    const auto& lines = std::get<CommandList>(result);
    require(lines.size() == lineCount, "line count");
    for (const std::string& line : lines)
        require(line.find_first_of("\r\n") == std::string::npos, "no line break inside a line", line);
}

inline void requireSameAnswer(const GeneratorResult& first, const GeneratorResult& second)
{
    require(first == second, "same input, same answer");
}

// A field's explanation refuses exactly when the button, with every other field good,
// refuses that field.
inline void requireAgreement(const FieldExplanation& explanation, const GeneratorResult& othersGood, Field field,
                             std::string_view text)
{
    const auto* rejection = std::get_if<Rejection>(&othersGood);
    const bool buttonRefuses = rejection != nullptr && rejection->field == field;
    require(buttonRefuses == (explanation.verdict == FieldVerdict::Refused), "the explanation agrees with the button",
            text);
}

} // namespace qz::fuzz
