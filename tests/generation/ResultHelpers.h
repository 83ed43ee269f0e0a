#pragma once

#include "FieldRules.h"

#include <gtest/gtest.h>

namespace qz {

// The list of a result, or an empty list plus a test failure when it is a Rejection.
inline CommandList listOf(const GeneratorResult& result)
{
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        ADD_FAILURE() << "expected a command list, got the rejection \"" << rejection->message << "\"";
        return {};
    }
    return std::get<CommandList>(result);
}

// The rejection of a result, or a marker rejection plus a test failure when it is a list.
inline Rejection rejectionOf(const GeneratorResult& result)
{
    if (const auto* rejection = std::get_if<Rejection>(&result))
        return *rejection;
    ADD_FAILURE() << "expected a rejection, got a command list";
    return {"<command list>", Field::None};
}

inline std::ostream& operator<<(std::ostream& out, Field field)
{
    return out << "Field#" << static_cast<int>(field);
}

// Nine spaces and 48 "=", as every list's header draws it.
inline const std::string separator = "         ================================================";

} // namespace qz
