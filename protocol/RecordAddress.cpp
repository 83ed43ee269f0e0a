#include "RecordAddress.h"

#include "FieldRules.h"

#include <algorithm>
#include <optional>

namespace qz {

namespace {

constexpr std::string_view schemes[] = {"postgresql://", "postgres://"};
constexpr std::string_view defaultPort = "5432";

// %41 is "A", as in any URI; nothing when a % is not followed by two hex digits.
std::optional<std::string> decoded(std::string_view text)
{
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            plain += text[at];
            continue;
        }
        const std::string digits = UpperCase(std::string(text.substr(at + 1, 2)));
        if (digits.size() != 2 || !AllHexDigits(digits))
            return std::nullopt;
        plain += static_cast<char>(HexValue(digits));
        at += 2;
    }
    return plain;
}

// libpq's parameter names: lower-case letters and '_'.
bool isParameterName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '_'; });
}

// A value as a libpq connection string quotes it: 'it\'s'.
std::string quoted(std::string_view value)
{
    std::string text = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'')
            text += '\\';
        text += c;
    }
    return text + "'";
}

bool isBatchName(std::string_view name)
{
    return !name.empty() && name.size() <= LongestBatchName && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDecimalDigit(c) || c == '-' || c == '_' || c == '.';
    });
}

const std::string passwordWords =
    "the address carries a password, which the process list and the saved settings would show: leave it out, "
    "and put it in PGPASSWORD or ~/.pgpass";

} // namespace

bool IsDatabaseAddress(std::string_view record)
{
    return std::any_of(std::begin(schemes), std::end(schemes),
                       [&](std::string_view scheme) { return record.substr(0, scheme.size()) == scheme; });
}

std::variant<DatabaseAddress, std::string> ReadDatabaseAddress(std::string_view text, BatchName batchName)
{
    std::string_view rest = text;
    for (std::string_view scheme : schemes) {
        if (rest.substr(0, scheme.size()) == scheme)
            rest.remove_prefix(scheme.size());
    }
    if (rest.size() == text.size())
        return std::string("a database record begins with postgresql://");
    const std::size_t query = rest.find('?');
    std::string_view parameters = query == std::string_view::npos ? std::string_view() : rest.substr(query + 1);
    rest = rest.substr(0, query);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash + 1 == rest.size())
        return std::string("the address names no database: postgresql://HOST/DBNAME?batch=NAME");
    std::string_view authority = rest.substr(0, slash);
    DatabaseAddress address;
    const auto database = decoded(rest.substr(slash + 1));
    if (!database || database->find('/') != std::string::npos)
        return std::string("the database's name cannot be read: write it as postgresql://HOST/DBNAME?batch=NAME");
    address.database = *database;
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        if (user.find(':') != std::string_view::npos)
            return passwordWords;
        address.user = decoded(user).value_or(std::string(user));
        authority.remove_prefix(at + 1);
    }
    // [::1]:5433 or db.line1:5433
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        address.port = std::string(authority.substr(colon + 1));
        authority = authority.substr(0, colon);
        if (address.port.empty() || !AllDecimalDigits(address.port) || address.port.size() > 5
            || DecimalValue(address.port) > 65535)
            return "the port \"" + address.port + "\" is no port number";
    }
    if (authority.size() >= 2 && authority.front() == '[' && authority.back() == ']')
        authority = authority.substr(1, authority.size() - 2);
    address.host = decoded(authority).value_or(std::string(authority));
    bool batchGiven = false;
    while (!parameters.empty()) {
        const std::size_t end = std::min(parameters.find('&'), parameters.size());
        const std::string_view pair = parameters.substr(0, end);
        parameters.remove_prefix(std::min(end + 1, parameters.size()));
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        const std::string key(pair.substr(0, equals));
        const std::string value = equals == std::string_view::npos
            ? std::string()
            : decoded(pair.substr(equals + 1)).value_or(std::string(pair.substr(equals + 1)));
        if (key == "password" || UpperCase(value).find("PASSWORD") != std::string::npos)
            return passwordWords;
        if (!isParameterName(key))
            return "\"" + key + "\" is no parameter of a PostgreSQL address";
        // Qt's driver reads ';' as the end of a parameter, whatever the quotes.
        if (value.find(';') != std::string::npos)
            return "the value of " + key + " holds a ';', which cannot be passed on to the server";
        if (key == "batch") {
            if (!isBatchName(value))
                return "the batch's name \"" + value + "\" is not one: letters, digits, '-', '_' and '.', up to "
                    + std::to_string(LongestBatchName) + " of them";
            address.batch = value;
            batchGiven = true;
        } else if (key == "dbname") {
            if (value != address.database)
                return "dbname=" + value + " contradicts the database the address names (" + address.database
                    + "): leave it out";
        } else {
            address.options.emplace_back(key, value);
        }
    }
    if (!batchGiven && batchName == BatchName::Required)
        return std::string("the address names no batch: add ?batch=NAME, the name every bench of the line gives");
    return address;
}

std::string ServerName(const DatabaseAddress& address)
{
    std::string host = address.host;
    for (const auto& [key, value] : address.options) {
        if (key == "host" && host.empty())
            host = value;
    }
    if (host.empty())
        host = "the local socket";
    else if (host.front() == '/')
        return host; // a socket folder
    return host + ":" + (address.port.empty() ? std::string(defaultPort) : address.port);
}

namespace {

bool given(const DatabaseAddress& address, std::string_view key)
{
    return std::any_of(address.options.begin(), address.options.end(), [key](const auto& option) { return option.first == key; });
}

} // namespace

std::string ShownAddress(std::string_view record)
{
    if (!IsDatabaseAddress(record))
        return std::string(record);
    std::string shown(record);
    const std::size_t schemeEnd = shown.find("//") + 2;
    const std::size_t authorityEnd = std::min(shown.find_first_of("/?", schemeEnd), shown.size());
    const std::size_t at = shown.rfind('@', authorityEnd);
    if (at != std::string::npos && at >= schemeEnd) {
        const std::size_t colon = shown.find(':', schemeEnd);
        if (colon < at)
            shown.replace(colon + 1, at - colon - 1, "***");
    }
    // Any parameter that names a password, in its key or its value, is shown as ***.
    std::size_t from = shown.find('?');
    while (from != std::string::npos && from < shown.size()) {
        const std::size_t begin = from + 1;
        const std::size_t end = std::min(shown.find('&', begin), shown.size());
        const std::size_t equals = shown.find('=', begin);
        const std::string pair = shown.substr(begin, end - begin);
        if (UpperCase(decoded(pair).value_or(pair)).find("PASSWORD") != std::string::npos && equals < end) {
            shown.replace(equals + 1, end - equals - 1, "***");
            from = shown.find('&', equals);
        } else {
            from = end < shown.size() ? end : std::string::npos;
        }
    }
    return shown;
}

std::string ConnectOptions(const DatabaseAddress& address)
{
    std::vector<std::pair<std::string, std::string>> options;
    const auto bound = [&](const char* key, std::string value) {
        if (!given(address, key))
            options.emplace_back(key, std::move(value));
    };
    bound("connect_timeout", std::to_string(ConnectSeconds));
    // A peer that stops answering on an idle or a busy connection is noticed in seconds.
    bound("keepalives", "1");
    bound("keepalives_idle", "2");
    bound("keepalives_interval", "1");
    bound("keepalives_count", "3");
    bound("tcp_user_timeout", std::to_string(StatementMs));
    std::string serverOptions = "-c statement_timeout=" + std::to_string(StatementMs) + " -c lock_timeout="
        + std::to_string(LockMs);
    for (const auto& [key, value] : address.options) {
        if (key == "options")
            serverOptions += " " + value; // the address's own come last, and win
        else
            options.emplace_back(key, value);
    }
    options.emplace_back("options", serverOptions);
    std::string joined;
    for (const auto& [key, value] : options)
        joined += (joined.empty() ? "" : ";") + key + "=" + quoted(value);
    return joined;
}

} // namespace qz
