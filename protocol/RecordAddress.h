#pragma once

// A batch record kept in a PostgreSQL database, named where a record file's path would go:
// libpq's URI form with the batch's name as a parameter of its own,
// postgresql://[USER@]HOST[:PORT]/DBNAME?batch=NAME. The password never travels in it.

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qz {

struct DatabaseAddress {
    std::string user;     // empty: the user's own name, as for every libpq program
    std::string host;     // empty: the local socket (or a host= parameter names its folder)
    std::string port;     // empty: 5432
    std::string database;
    std::string batch;
    // The other parameters (sslmode, connect_timeout, host=/socket/dir), passed on as given.
    std::vector<std::pair<std::string, std::string>> options;
};

inline constexpr std::size_t LongestBatchName = 63;

// Whether a record names a database rather than a file.
bool IsDatabaseAddress(std::string_view record);
// Whether an address must name a batch: a batch's record must; a look at every batch of a
// database need not.
enum class BatchName { Required, Optional };
// The address read, or why it cannot be one, in words.
std::variant<DatabaseAddress, std::string> ReadDatabaseAddress(std::string_view text,
                                                               BatchName batchName = BatchName::Required);
// "db.line1:5432", or the socket folder: the server as messages name it.
std::string ServerName(const DatabaseAddress& address);

// A record as messages, settings and transcripts may show it: a password a database
// address carries (in its user part, a password= parameter, or hidden in another
// parameter's value) becomes ***. A file's path is shown as it is.
std::string ShownAddress(std::string_view record);

// How long a connection may take to be made, unless the address says (connect_timeout).
inline constexpr int ConnectSeconds = 5;
// How long one statement, or the wait for one lock, may take on the server.
inline constexpr int StatementMs = 6000;
inline constexpr int LockMs = 4000;

// The address's parameters as the driver's connection options, each value quoted as
// libpq's connection strings require, so that no value adds a parameter of its own; with
// the bounds that make a server which stops answering an unreachable one within seconds
// (connect_timeout, keepalives, tcp_user_timeout, statement_timeout and lock_timeout),
// where the address does not set them itself. Joined by ';', as Qt's driver takes them.
std::string ConnectOptions(const DatabaseAddress& address);

} // namespace qz
