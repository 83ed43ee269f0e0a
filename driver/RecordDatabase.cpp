#include "RecordDatabase.h"

#include "BatchWords.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qz {

namespace {

constexpr int schemaVersion = 2;
// Held while tables are made or a batch defined, so that benches starting together agree.
constexpr qint64 definingLock = 0x4B41565245; // "KAVRE"
constexpr int unitsPerInsert = 500;
// The server's SQLSTATEs: a right the user lacks; a lock or a statement that took too long.
constexpr const char* insufficientPrivilege = "42501";
constexpr const char* lockNotAvailable = "55P03";
constexpr const char* queryCanceled = "57014";
constexpr const char* undefinedColumn = "42703";
// How long the record waits for the server: a connection (with its tables checked), one
// claim or end, a batch defined (a million units may take a while).
constexpr int connectBoundMs = ConnectSeconds * 1000 + 3000;
constexpr int callBoundMs = 8000;
constexpr int defineBoundMs = 120000;
constexpr int definingLockMs = 60000;

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS qz_schema (version integer NOT NULL)",
    "CREATE TABLE IF NOT EXISTS qz_batch (name text PRIMARY KEY, page text NOT NULL, definition text NOT NULL, "
    "total integer NOT NULL, created timestamptz NOT NULL DEFAULT now())",
    // identity: what tells the module from every other, by meaning; unique over every
    // batch of the database, so that no two modules ever get one.
    "CREATE TABLE IF NOT EXISTS qz_unit (batch text NOT NULL REFERENCES qz_batch(name), unit integer NOT NULL, "
    "vals text NOT NULL, identity text UNIQUE, state text NOT NULL DEFAULT 'free' "
    "CHECK (state IN ('free', 'started', 'set up', 'failed')), carries boolean NOT NULL DEFAULT false, "
    "bench text, port text, module text, claimed timestamptz, ended timestamptz, sent integer, taken integer, "
    "total integer, message text, PRIMARY KEY (batch, unit))",
    // Version 2: which connection claimed a started unit, so that one whose bench is gone
    // is told from one being set up now; indexes, so that a claim costs the same however
    // large the batch.
    "ALTER TABLE qz_unit ADD COLUMN IF NOT EXISTS claimer_pid integer, "
    "ADD COLUMN IF NOT EXISTS claimer_start timestamptz",
    "CREATE INDEX IF NOT EXISTS qz_unit_free ON qz_unit (batch, unit) WHERE state = 'free'",
    "CREATE INDEX IF NOT EXISTS qz_unit_taken ON qz_unit (batch, unit) WHERE state IN ('started', 'failed')",
    "CREATE INDEX IF NOT EXISTS qz_unit_module ON qz_unit (module)",
};

// A started unit whose claiming connection is gone: its bench stopped mid-module, and the
// module may carry its values.
const char* const claimerGone =
    "NOT EXISTS (SELECT 1 FROM pg_stat_activity a WHERE a.pid = qz_unit.claimer_pid "
    "AND (a.backend_start IS NULL OR a.backend_start = qz_unit.claimer_start))";
// Values a module may carry: it failed after its identity was sent, or its bench stopped.
const QString carried = QStringLiteral("((state = 'failed' AND carries) OR (state = 'started' AND %1))").arg(
    QLatin1String(claimerGone));
const char* const timeText = "to_char(coalesce(ended, claimed) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";

QString text(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
}

// A module that did not tell its address is NULL in the table, not an empty text.
QVariant moduleValue(const std::string& module)
{
    return module.empty() ? QVariant() : QVariant(text(module));
}

std::string bytes(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The server's words, first line only: libpq adds hints on lines of their own.
std::string serverWords(const QSqlError& error)
{
    QString words = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    words = words.section(QLatin1Char('\n'), 0, 0).trimmed();
    // libpq's severity ("ERROR:  ") says nothing the sentence around it does not.
    static const QRegularExpression severity(QStringLiteral("^(ERROR|FATAL|PANIC):\\s+"));
    return bytes(words.remove(severity));
}

// Qt's SQL classes warn on stderr ("QPSQLDriver::rollbackTransaction: Database not open")
// of what the record says in words of its own.
void KeepDriverWarningsToThemselves()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            for (const char* from : {"QPSQL", "QSqlDatabase", "QSqlQuery"}) {
                if (message.startsWith(QLatin1String(from)))
                    return;
            }
            if (previous != nullptr)
                previous(type, context, message);
            else
                std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        });
    });
}

std::string connectionName()
{
    static std::atomic<int> made{0};
    return "qz-record-" + std::to_string(++made);
}

} // namespace

// The side that talks to the server: one connection, on the one thread that made it. Every
// statement runs here; the record waits for it with a bound (see RecordDatabase::Impl).
struct Link {
    DatabaseAddress address;
    std::string bench;
    bool retryFailed = false;
    QString name = text(connectionName());
    bool added = false;
    QString lastCode; // the SQLSTATE of the last statement that failed

    Link(DatabaseAddress address, std::string bench, bool retryFailed)
        : address(std::move(address)), bench(std::move(bench)), retryFailed(retryFailed)
    {
        KeepDriverWarningsToThemselves();
    }
    ~Link()
    {
        if (!added)
            return;
        {
            QSqlDatabase database = db();
            database.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    BatchRecord::Taken take(std::string& words);
    std::string define(const PageSpec& page, const batch::Plan& plan, const BatchRecord::Definition& definitions);
    batch::Claimed claimUnit(const std::string& port, const std::string& module, const std::string& identity,
                                      int total);
    std::string end(std::size_t unit, const batch::RecordRow& row);
    std::vector<batch::Recorded> recordedUnits(std::size_t units);
    std::map<std::size_t, std::string> carriers();
    std::vector<batch::HeldPort> heldPorts();
    std::string line(RecordDatabase::Line& state);
    std::string batches(std::vector<RecordDatabase::BatchLine>& batches);
    std::string report(batch::Report& report);

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    std::string unreachable(const QSqlError& error) const
    {
        return "cannot reach the record's database at " + server() + ": " + serverWords(error);
    }

    // The server as messages name it; what the address leaves out comes from the
    // environment, as libpq takes it (PGHOST, PGPORT).
    std::string server() const
    {
        DatabaseAddress named = address;
        const char* host = std::getenv("PGHOST");
        const char* port = std::getenv("PGPORT");
        if (named.host.empty() && host != nullptr)
            named.host = host;
        if (named.port.empty() && port != nullptr)
            named.port = port;
        return ServerName(named);
    }

    // Opens the connection, again if it was lost while idle; why not, in words.
    std::string connect()
    {
        if (!added)
            addDatabase();
        QSqlDatabase database = db();
        if (database.isOpen()) {
            QSqlQuery ping(database);
            if (ping.exec(QStringLiteral("SELECT 1")))
                return {};
            database.close();
        }
        if (!database.open())
            return unreachable(database.lastError());
        // The server's notices ("relation already exists, skipping") are no news to the user.
        QSqlQuery quiet(database);
        quiet.exec(QStringLiteral("SET client_min_messages = warning"));
        return {};
    }

    // Runs a statement with its values bound in order; why not, in words.
    std::string run(QSqlQuery& query, const QString& statement, const QVariantList& values = {})
    {
        // A statement without values is not prepared: the server prepares no CREATE.
        bool done = values.isEmpty() ? query.exec(statement) : query.prepare(statement);
        if (done && !values.isEmpty()) {
            for (const QVariant& value : values)
                query.addBindValue(value);
            done = query.exec();
        }
        lastCode = done ? QString() : query.lastError().nativeErrorCode();
        return done ? std::string() : failure(query.lastError());
    }

    // The last statement waited too long for a lock, or ran too long: the rows are held.
    bool heldTooLong() const
    {
        return lastCode == QLatin1String(lockNotAvailable) || lastCode == QLatin1String(queryCanceled);
    }

    // A lost connection names the server; anything else is the server's refusal.
    std::string failure(const QSqlError& error)
    {
        // A server that answers with its own code is there, even where the transaction the
        // statement was in cannot go on (and a question asked now would fail too); only
        // codes of a lost or closing connection say otherwise.
        const QString code = error.nativeErrorCode();
        const bool answered = error.type() != QSqlError::ConnectionError && code.size() == 5
            && !code.startsWith(QLatin1String("08")) && !code.startsWith(QLatin1String("57P"));
        if (!answered && !stillThere())
            return unreachable(error);
        if (code == QLatin1String(insufficientPrivilege))
            return "the record's database at " + server() + " does not let "
                + (address.user.empty() ? std::string("this user") : "user " + address.user)
                + " do what a bench does (" + serverWords(error)
                + "): a bench's user must read and change the qz_ tables (and, the first time, create them)";
        return "the record's database refused it: " + serverWords(error);
    }

    bool stillThere()
    {
        QSqlDatabase database = db();
        QSqlQuery ping(database);
        return database.isOpen() && ping.exec(QStringLiteral("SELECT 1"));
    }

    void addDatabase()
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        database.setHostName(text(address.host));
        if (!address.port.empty())
            database.setPort(std::stoi(address.port));
        database.setDatabaseName(text(address.database));
        database.setUserName(text(address.user));
        database.setConnectOptions(text(ConnectOptions(address)));
        added = true;
    }

    // Makes the tables, or brings older ones up to this version; tables of this version are
    // only checked, so that a bench whose user may not change them works on them all the same.
    std::string makeTables()
    {
        QSqlDatabase database = db();
        database.transaction();
        QSqlQuery query(database);
        if (std::string why = run(query, QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {definingLock}); !why.empty())
            return database.rollback(), why;
        if (std::string why = run(query, QStringLiteral("SELECT to_regclass('qz_schema') IS NOT NULL")); !why.empty())
            return database.rollback(), why;
        QVariant version;
        if (query.next() && query.value(0).toBool()) {
            if (std::string why = run(query, QStringLiteral("SELECT max(version) FROM qz_schema")); !why.empty())
                return database.rollback(), why;
            version = query.next() ? query.value(0) : QVariant();
        }
        if (version.isNull() || version.toInt() < schemaVersion) {
            // A qz_unit of someone else's is not changed: its columns are not ours.
            if (std::string why = foreignTable(query); !why.empty())
                return database.rollback(), why;
            for (const char* statement : schema) {
                if (std::string why = run(query, QLatin1String(statement)); !why.empty())
                    return database.rollback(), why;
            }
            if (std::string why = run(query, QStringLiteral("INSERT INTO qz_schema VALUES (?)"), {schemaVersion});
                !why.empty())
                return database.rollback(), why;
        } else if (version.toInt() > schemaVersion) {
            database.rollback();
            return "the record's database at " + server() + " was made by a newer version (its tables are "
                "version " + std::to_string(version.toInt()) + ", this one knows " + std::to_string(schemaVersion)
                + "): update this bench";
        }
        if (std::string why = foreignTable(query); !why.empty())
            return database.rollback(), why;
        return database.commit() ? std::string() : unreachable(database.lastError());
    }

    // Why the tables named as ours are not ours, or empty.
    std::string foreignTable(QSqlQuery& query)
    {
        for (const char* table : {"qz_batch", "qz_unit"}) {
            if (!run(query, QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(QLatin1String(table))).empty()
                || !query.next() || !query.value(0).toBool())
                continue;
            const QString columns = QLatin1String(table) == QLatin1String("qz_batch")
                ? QStringLiteral("name, page, definition, total")
                : QStringLiteral("batch, unit, vals, identity, state, carries, bench, port, module, claimed, ended, sent, "
                                 "taken, total, message");
            const std::string why = run(query, QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(columns, QLatin1String(table)));
            if (lastCode == QLatin1String(undefinedColumn))
                return "the record's database at " + server() + " has a table " + table
                    + " that this program did not make (" + serverWords(query.lastError())
                    + "): give the line a database of its own";
            if (!why.empty())
                return why;
        }
        return {};
    }
};

BatchRecord::Taken Link::take(std::string& words)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        words = "this computer has no PostgreSQL driver for Qt (Debian: libqt6sql6-psql)";
        return BatchRecord::Taken::Broken;
    }
    if (std::string why = connect(); !why.empty()) {
        words = why;
        return BatchRecord::Taken::Unreachable;
    }
    if (std::string why = makeTables(); !why.empty()) {
        const bool held = heldTooLong();
        words = held ? "the record's database at " + server() + " holds its tables locked for another session (" + why
                + ")"
                     : why;
        return held || !stillThere() ? BatchRecord::Taken::Unreachable : BatchRecord::Taken::Broken;
    }
    return BatchRecord::Taken::Yes;
}

std::string Link::define(const PageSpec& page, const batch::Plan& plan, const BatchRecord::Definition& definitions)
{
    const std::string& definition = definitions.text;
    if (std::string why = connect(); !why.empty())
        return why;
    QSqlDatabase database = db();
    database.transaction();
    QSqlQuery query(database);
    const auto failed = [&](std::string why) {
        database.rollback();
        return why;
    };
    // Another bench may be defining a large batch: waiting for it is no lost server.
    if (std::string why = run(query, QStringLiteral("SET LOCAL lock_timeout = %1").arg(definingLockMs)); !why.empty())
        return failed(why);
    if (std::string why = run(query, QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {definingLock}); !why.empty())
        return failed(why);
    if (std::string why = run(query, QStringLiteral("SELECT definition FROM qz_batch WHERE name = ?"),
                                     {text(address.batch)});
        !why.empty())
        return failed(why);
    if (query.next()) {
        const std::string defined = bytes(query.value(0).toString());
        // Begun by the version before this one with the same options: written anew, the
        // batch goes on.
        if (defined == definitions.earlier && !definitions.earlier.empty()) {
            if (std::string why = run(query, QStringLiteral("UPDATE qz_batch SET definition = ? WHERE name = ?"),
                                      {text(definition), text(address.batch)});
                !why.empty())
                return failed(why);
            return database.commit() ? std::string() : unreachable(database.lastError());
        }
        database.rollback();
        if (defined == definition)
            return {};
        // The first line that differs: "major=0001" against "major=0002".
        std::size_t at = 0;
        while (at < defined.size() && at < definition.size() && defined[at] == definition[at])
            ++at;
        const std::size_t from = definition.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t start = from == std::string::npos ? 0 : from + 1;
        const auto lineAt = [start](const std::string& whole) {
            return whole.substr(start, whole.find('\n', start) - start);
        };
        return "batch " + address.batch + " was begun with other options: it has " + lineAt(defined)
            + ", and this bench gives " + lineAt(definition) + " (the same name, the same options on every bench)";
    }
    if (std::string why = run(query, QStringLiteral("INSERT INTO qz_batch (name, page, definition, total) "
                                                           "VALUES (?, ?, ?, ?)"),
                                     {text(address.batch), text(std::string(page.name)), text(definition),
                                      static_cast<int>(plan.units.size())});
        !why.empty())
        return failed(why);
    for (std::size_t first = 0; first < plan.units.size(); first += unitsPerInsert) {
        const std::size_t last = std::min(plan.units.size(), first + unitsPerInsert);
        QString statement = QStringLiteral("INSERT INTO qz_unit (batch, unit, vals, identity) VALUES ");
        QVariantList values;
        for (std::size_t unit = first; unit < last; ++unit) {
            statement += QStringLiteral("%1(?, ?, ?, ?)").arg(unit == first ? QString() : QStringLiteral(", "));
            const batch::Values unitValues = plan.units[unit];
            const std::string identity = batch::IdentityOf(page, batch::CommandsOf(page, unitValues));
            std::string line = batch::CsvLine(unitValues);
            line.pop_back(); // its line break: a row holds one line
            values << text(address.batch) << static_cast<int>(unit) << text(line)
                   << (identity.empty() ? QVariant(QString()) : QVariant(text(identity)));
        }
        if (!query.prepare(statement))
            return failed(failure(query.lastError()));
        for (const QVariant& value : values)
            query.addBindValue(value.toString().isNull() ? QVariant() : value);
        if (!query.exec()) {
            const std::string words = serverWords(query.lastError());
            database.rollback();
            if (words.find("qz_unit_identity_key") == std::string::npos)
                return failure(query.lastError());
            // Which batch carries one of these identities already.
            QSqlQuery other(database);
            run(other, QStringLiteral("SELECT batch, vals FROM qz_unit WHERE identity = ANY(string_to_array(?, "
                                             "chr(30))) ORDER BY unit LIMIT 1"),
                       {[&] {
                           QStringList identities;
                           for (std::size_t unit = 0; unit < plan.units.size(); ++unit)
                               identities << text(batch::IdentityOf(page, batch::CommandsOf(page, plan.units[unit])));
                           return identities.join(QChar(30));
                       }()});
            const std::string carrier = other.next() ? bytes(other.value(0).toString()) : std::string("another batch");
            const std::string values = other.isValid() ? bytes(other.value(1).toString()) : std::string();
            return "batch " + carrier + " in the same database carries an identity this batch would give ("
                + values + "): no two modules may carry one; count from another value";
        }
    }
    return database.commit() ? std::string() : unreachable(database.lastError());
}

batch::Claimed Link::claimUnit(const std::string& port, const std::string& module, const std::string& identity,
                                          int total)
{
    batch::Claimed claimed;
    if (claimed.why = connect(); !claimed.why.empty())
        return claimed;
    QSqlDatabase database = db();
    database.transaction();
    const auto answer = [&](batch::Claimed::Kind kind, std::string why = {}) {
        if (kind == batch::Claimed::Unit ? !database.commit() : !database.rollback()) {
            claimed.kind = batch::Claimed::Unreachable;
            claimed.why = unreachable(database.lastError());
            return claimed;
        }
        claimed.kind = kind;
        claimed.why = std::move(why);
        return claimed;
    };
    const auto failed = [&](std::string why) {
        const bool held = heldTooLong();
        database.rollback();
        claimed.kind = held          ? batch::Claimed::Busy
            : stillThere()           ? batch::Claimed::Refused
                                     : batch::Claimed::Unreachable;
        claimed.why = held ? "the record's database at " + server() + " holds batch " + address.batch
                + "'s units locked for another session (" + why + "): waiting for it"
                           : std::move(why);
        return claimed;
    };
    const QVariant batchName = text(address.batch);
    QSqlQuery query(database);
    // The module as any batch of the database saw it: by its own address, or, where its
    // address is its identity, by the identity it was given.
    if (!module.empty()) {
        if (std::string why = run(query, QStringLiteral("SELECT batch, unit, state, %1 FROM qz_unit WHERE "
                                                               "(module = ? OR identity = ?) AND (state = 'set up' OR %2) "
                                                               "ORDER BY claimed DESC NULLS LAST LIMIT 1")
                                                    .arg(QLatin1String(timeText), carried),
                                         {text(module), identity.empty() ? QVariant(QString()) : text(identity)});
            !why.empty())
            return failed(why);
        if (query.next()) {
            using State = batch::KnownModules::State;
            const QString state = query.value(2).toString();
            const std::string knownBatch = bytes(query.value(0).toString());
            claimed.knownBatch = knownBatch == address.batch ? std::string() : knownBatch;
            claimed.known = {static_cast<std::size_t>(query.value(1).toLongLong()), bytes(query.value(3).toString()),
                             state == QLatin1String("set up") ? State::SetUp
                             : state == QLatin1String("failed") ? State::Carrying
                                                                : State::Started};
            // Only the module that carries values of this very batch is set up again, and only
            // when the failed modules are back.
            if (claimed.known.state == State::SetUp || !retryFailed || !claimed.knownBatch.empty())
                return answer(batch::Claimed::Known);
        }
    }
    std::vector<batch::Candidate> candidates;
    if (retryFailed) {
        if (std::string why = run(query, QStringLiteral("SELECT unit, coalesce(module, '') FROM qz_unit WHERE batch = ? "
                                                               "AND %1 ORDER BY unit FOR UPDATE SKIP LOCKED").arg(carried),
                                         {batchName});
            !why.empty())
            return failed(why);
        while (query.next())
            candidates.push_back({static_cast<std::size_t>(query.value(0).toLongLong()), true, bytes(query.value(1).toString())});
    }
    // One unit a claim, never one twice: rows another bench holds are passed over.
    if (std::string why = run(query, QStringLiteral("SELECT unit FROM qz_unit WHERE batch = ? AND state = 'free' "
                                                           "ORDER BY unit LIMIT 1 FOR UPDATE SKIP LOCKED"),
                                     {batchName});
        !why.empty())
        return failed(why);
    if (query.next())
        candidates.push_back({static_cast<std::size_t>(query.value(0).toLongLong()), false, {}});
    claimed.choice = batch::ChooseUnit(candidates, module);
    if (!claimed.choice.unit) {
        if (claimed.choice.passedOver)
            return answer(batch::Claimed::CarriedElsewhere);
        if (std::string why = run(query, QStringLiteral("SELECT EXISTS (SELECT 1 FROM qz_unit WHERE batch = ? AND "
                                                               "state = 'free')"),
                                         {batchName});
            !why.empty())
            return failed(why);
        if (query.next() && query.value(0).toBool())
            return answer(batch::Claimed::Busy, "batch " + address.batch + "'s free units are held by another "
                                         "connection to the database (a transaction left open?): waiting for them");
        return answer(batch::Claimed::NoneLeft);
    }
    // A carried unit keeps naming the module that carries it until another takes its values.
    if (std::string why = run(
            query,
            QStringLiteral("UPDATE qz_unit SET state = 'started', bench = ?, port = ?, "
                           "module = CASE WHEN carries THEN module ELSE ? END, claimed = now(), ended = NULL, sent = 0, "
                           "taken = 0, total = ?, message = NULL, claimer_pid = pg_backend_pid(), "
                           "claimer_start = (SELECT backend_start FROM pg_stat_activity WHERE pid = pg_backend_pid()) "
                           "WHERE batch = ? AND unit = ?"),
            {text(bench), text(port), moduleValue(module), total, batchName,
             static_cast<qlonglong>(*claimed.choice.unit)});
        !why.empty())
        return failed(why);
    return answer(batch::Claimed::Unit);
}

std::string Link::end(std::size_t unit, const batch::RecordRow& row)
{
    const bool setUp = row.result == batch::SetUpResult;
    // A failed module that was sent its identity keeps it; one that was not frees its unit,
    // unless another module carries it still: carried values are never free again.
    const bool carries = !setUp && row.carries;
    if (std::string why = connect(); !why.empty())
        return why;
    QSqlQuery query(db());
    return run(query,
               QStringLiteral("UPDATE qz_unit SET state = CASE WHEN ? THEN 'set up' WHEN ? OR carries THEN 'failed' ELSE "
                              "'free' END, module = CASE WHEN ? OR ? OR NOT carries THEN ? ELSE module END, "
                              "carries = ? OR (NOT ? AND carries), sent = ?, taken = ?, total = ?, message = ?, "
                              "ended = now() WHERE batch = ? AND unit = ?"),
               {setUp, carries, setUp, carries, moduleValue(row.module), carries, setUp, row.sent, row.taken, row.total,
                text(row.message), text(address.batch), static_cast<qlonglong>(unit)});
}

std::vector<batch::Recorded> Link::recordedUnits(std::size_t units)
{
    std::vector<batch::Recorded> recorded(units, batch::Recorded::Nothing);
    QSqlQuery query(db());
    if (!run(query, QStringLiteral("SELECT unit, state, %1 FROM qz_unit WHERE batch = ? AND state <> 'free'")
                               .arg(carried),
                    {text(address.batch)})
             .empty())
        return recorded;
    while (query.next()) {
        const auto unit = static_cast<std::size_t>(query.value(0).toLongLong());
        if (unit >= units)
            continue;
        recorded[unit] = query.value(1).toString() == QLatin1String("set up") ? batch::Recorded::SetUp
            : query.value(2).toBool()                                     ? batch::Recorded::Carried
                                                                          : batch::Recorded::InProgress;
    }
    return recorded;
}

std::map<std::size_t, std::string> Link::carriers()
{
    std::map<std::size_t, std::string> carriers;
    QSqlQuery query(db());
    if (!run(query, QStringLiteral("SELECT unit, module FROM qz_unit WHERE batch = ? AND module IS NOT NULL AND %1")
                               .arg(carried),
                    {text(address.batch)})
             .empty())
        return carriers;
    while (query.next())
        carriers[static_cast<std::size_t>(query.value(0).toLongLong())] = bytes(query.value(1).toString());
    return carriers;
}

std::vector<batch::HeldPort> Link::heldPorts()
{
    std::vector<batch::HeldPort> held;
    QSqlQuery query(db());
    if (!run(query, QStringLiteral("SELECT DISTINCT ON (port) port, state FROM qz_unit WHERE batch = ? AND "
                                          "bench = ? AND state <> 'free' ORDER BY port, claimed DESC"),
                    {text(address.batch), text(bench)})
             .empty())
        return held;
    using State = batch::KnownModules::State;
    while (query.next()) {
        const QString state = query.value(1).toString();
        held.push_back({bytes(query.value(0).toString()), state == QLatin1String("set up") ? State::SetUp
                                                              : state == QLatin1String("failed") ? State::Carrying
                                                                                                 : State::Started});
    }
    return held;
}

std::string Link::line(RecordDatabase::Line& state)
{
    if (std::string why = connect(); !why.empty())
        return why;
    QSqlQuery query(db());
    if (std::string why = run(query, QStringLiteral("SELECT count(*), count(*) FILTER (WHERE state <> 'free'), "
                                                    "count(*) FILTER (WHERE state = 'set up'), count(*) FILTER "
                                                    "(WHERE state = 'failed'), count(*) FILTER (WHERE state = 'started' "
                                                    "AND %1) FROM qz_unit WHERE batch = ?")
                                         .arg(QLatin1String(claimerGone)),
                              {text(address.batch)});
        !why.empty())
        return why;
    if (!query.next() || query.value(0).toInt() == 0)
        return "the database at " + server() + " holds no batch " + address.batch;
    state.total = query.value(0).toInt();
    state.claimed = query.value(1).toInt();
    state.setUp = query.value(2).toInt();
    state.failed = query.value(3).toInt();
    state.cutShort = query.value(4).toInt();
    state.inProgress = state.claimed - state.setUp - state.failed - state.cutShort;
    state.left = state.total - state.claimed;
    // A started unit is in progress while its bench's connection lives; else its module may
    // carry its values.
    if (std::string why = run(query, QStringLiteral(
                                         "SELECT bench, port, count(*), count(*) FILTER (WHERE state = 'set up'), "
                                         "count(*) FILTER (WHERE state = 'failed'), (array_agg(vals ORDER BY "
                                         "claimed DESC))[1], (array_agg(CASE WHEN state <> 'started' THEN state WHEN %1 "
                                         "THEN 'carried' ELSE 'in progress' END ORDER BY claimed DESC))[1], "
                                         "to_char(max(claimed) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"') "
                                         "FROM qz_unit WHERE batch = ? AND state <> 'free' GROUP BY bench, port "
                                         "ORDER BY bench, port")
                                         .arg(QLatin1String(claimerGone)),
                              {text(address.batch)});
        !why.empty())
        return why;
    while (query.next()) {
        state.ports.push_back({bytes(query.value(0).toString()), bytes(query.value(1).toString()), query.value(2).toInt(),
                               query.value(3).toInt(), query.value(4).toInt(), bytes(query.value(5).toString()),
                               bytes(query.value(6).toString()), bytes(query.value(7).toString())});
    }
    return {};
}


std::string Link::batches(std::vector<RecordDatabase::BatchLine>& batches)
{
    if (std::string why = connect(); !why.empty())
        return why;
    QSqlQuery query(db());
    if (std::string why = run(query, QStringLiteral("SELECT to_regclass('qz_batch') IS NOT NULL")); !why.empty())
        return why;
    if (!query.next() || !query.value(0).toBool())
        return {}; // no batch was ever begun here
    if (std::string why = run(query, QStringLiteral(
                                          "SELECT b.name, b.page, to_char(b.created AT TIME ZONE 'UTC', "
                                          "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), b.total, count(u.unit) FILTER (WHERE u.state "
                                          "<> 'free'), count(u.unit) FILTER (WHERE u.state = 'set up'), count(u.unit) "
                                          "FILTER (WHERE u.state = 'failed') FROM qz_batch b LEFT JOIN qz_unit u ON "
                                          "u.batch = b.name GROUP BY b.name, b.page, b.created, b.total ORDER BY b.created"));
        !why.empty())
        return why;
    while (query.next()) {
        RecordDatabase::BatchLine line{bytes(query.value(0).toString()), bytes(query.value(1).toString()),
                                       bytes(query.value(2).toString()), query.value(3).toInt(), query.value(4).toInt(),
                                       query.value(5).toInt(), query.value(6).toInt(), 0};
        line.left = line.total - line.claimed;
        batches.push_back(line);
    }
    return {};
}

std::string Link::report(batch::Report& report)
{
    if (std::string why = connect(); !why.empty())
        return why;
    QSqlQuery query(db());
    if (std::string why = run(query, QStringLiteral("SELECT page FROM qz_batch WHERE name = ?"), {text(address.batch)});
        !why.empty())
        return why;
    const PageSpec* page = query.next() ? FindPage(bytes(query.value(0).toString())) : nullptr;
    if (page == nullptr)
        return "the database at " + server() + " holds no batch " + address.batch;
    for (const FieldSpec& field : page->fields)
        report.fields.emplace_back(field.option);
    const QString time = QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')");
    if (std::string why = run(query, QStringLiteral("SELECT vals, coalesce(module, ''), coalesce(bench, ''), "
                                                    "coalesce(port, ''), %1, %2, state, coalesce(message, '') FROM qz_unit "
                                                    "WHERE batch = ? AND state <> 'free' ORDER BY claimed, unit")
                                         .arg(time.arg(QStringLiteral("claimed")), time.arg(QStringLiteral("ended"))),
                             {text(address.batch)});
        !why.empty())
        return why;
    while (query.next()) {
        batch::ReportRow row;
        const std::string vals = bytes(query.value(0).toString());
        std::size_t offset = 0;
        batch::ReadCsvRecord(vals, offset, row.values);
        row.module = bytes(query.value(1).toString());
        row.bench = bytes(query.value(2).toString());
        row.port = bytes(query.value(3).toString());
        row.started = bytes(query.value(4).toString());
        row.ended = bytes(query.value(5).toString());
        row.result = bytes(query.value(6).toString());
        batch::SplitMessage(bytes(query.value(7).toString()), row);
        report.rows.push_back(std::move(row));
    }
    return {};
}

namespace {

// The thread that owns one Link, running what it is given in order. A worker given up on (a
// call that outlived its bound: the server stopped answering) is left to end by itself,
// whenever its call returns; the record makes a new one for what follows.
class Worker {
public:
    Worker(const DatabaseAddress& address, const std::string& bench, bool retryFailed)
        : state_(std::make_shared<State>())
    {
        thread_ = std::thread([state = state_, address, bench, retryFailed] {
            Link link(address, bench, retryFailed);
            for (;;) {
                std::function<void(Link&)> job;
                {
                    std::unique_lock<std::mutex> lock(state->mutex);
                    state->wake.wait(lock, [&] { return state->quit || !state->jobs.empty(); });
                    if (state->jobs.empty())
                        return;
                    job = std::move(state->jobs.front());
                    state->jobs.pop_front();
                }
                job(link);
            }
        });
    }
    ~Worker()
    {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->quit = true;
            if (lost_)
                state_->jobs.clear();
        }
        state_->wake.notify_one();
        if (lost_)
            thread_.detach();
        else
            thread_.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void post(std::function<void(Link&)> job)
    {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->jobs.push_back(std::move(job));
        }
        state_->wake.notify_one();
    }
    void lose() { lost_ = true; }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void(Link&)>> jobs;
        bool quit = false;
    };
    std::shared_ptr<State> state_;
    std::thread thread_;
    bool lost_ = false;
};

// A call's answer, handed from the worker to whoever waits for it.
template <class Result>
struct Answer {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<Result> result;
    QPointer<QEventLoop> loop; // the waiter's, while it waits in one
};

std::atomic<bool> workerLost{false};

} // namespace

struct RecordDatabase::Impl {
    DatabaseAddress address;
    std::string bench;
    bool retryFailed = false;
    std::map<std::string, std::size_t> claimed; // by port: the unit its module has
    std::unique_ptr<Worker> worker;
    std::function<bool()> stopAsked;

    // The server as messages name it.
    std::string server() const { return Link(address, bench, retryFailed).server(); }

    std::string silent(int ms) const
    {
        return "cannot reach the record's database at " + server() + ": it did not answer within "
            + std::to_string((ms + 999) / 1000) + " s";
    }

    // Runs job on the worker and waits for its answer, at most boundMs, and at most a
    // moment once a stop is asked; on the window's thread the event loop answers meanwhile.
    // Nothing when it did not answer in time: the worker is given up.
    template <class Result>
    std::optional<Result> call(std::function<Result(Link&)> job, int boundMs)
    {
        if (!worker)
            worker = std::make_unique<Worker>(address, bench, retryFailed);
        auto answer = std::make_shared<Answer<Result>>();
        worker->post([job = std::move(job), answer](Link& link) {
            Result result = job(link);
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->result = std::move(result);
            answer->ready.notify_all();
            if (answer->loop)
                QMetaObject::invokeMethod(answer->loop.data(), "quit", Qt::QueuedConnection);
        });
        const auto start = std::chrono::steady_clock::now();
        auto deadline = start + std::chrono::milliseconds(boundMs);
        bool stopSeen = false;
        const bool onEventLoop = QCoreApplication::instance() != nullptr
            && QThread::currentThread() == QCoreApplication::instance()->thread();
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(answer->mutex);
                if (answer->result)
                    return std::move(answer->result);
                if (std::chrono::steady_clock::now() >= deadline)
                    break;
                if (!onEventLoop)
                    answer->ready.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + stopPoll));
            }
            if (onEventLoop) {
                QEventLoop loop;
                QTimer::singleShot(stopPoll, &loop, &QEventLoop::quit);
                {
                    std::lock_guard<std::mutex> lock(answer->mutex);
                    if (answer->result)
                        continue;
                    answer->loop = &loop;
                }
                loop.exec();
                std::lock_guard<std::mutex> lock(answer->mutex);
                answer->loop = nullptr;
            }
            if (!stopSeen && stopAsked && stopAsked()) {
                stopSeen = true;
                deadline = std::min(deadline, std::chrono::steady_clock::now() + stopGrace);
            }
        }
        worker->lose();
        worker.reset();
        workerLost = true;
        return std::nullopt;
    }

    // A reading that the link fills in (into), or why not, in words.
    template <class Value>
    std::string read(std::string (Link::*reading)(Value&), Value& into, int boundMs)
    {
        const auto read = call<std::pair<std::string, Value>>(
            [reading](Link& link) {
                Value value{};
                std::string why = (link.*reading)(value);
                return std::make_pair(why, value);
            },
            boundMs);
        if (!read)
            return silent(boundMs);
        into = read->second;
        return read->first;
    }

    static constexpr std::chrono::milliseconds stopPoll{100};
    static constexpr std::chrono::milliseconds stopGrace{2000};
};

RecordDatabase::RecordDatabase(DatabaseAddress address, std::string bench, bool retryFailed)
    : impl_(std::make_unique<Impl>())
{
    impl_->address = std::move(address);
    impl_->bench = std::move(bench);
    impl_->retryFailed = retryFailed;
}

RecordDatabase::~RecordDatabase()
{
    release();
}

void RecordDatabase::stopWhen(std::function<bool()> stopAsked)
{
    impl_->stopAsked = std::move(stopAsked);
}

bool RecordDatabase::AnyCallAbandoned()
{
    return workerLost;
}

BatchRecord::Taken RecordDatabase::take(std::string& words)
{
    using Taken = BatchRecord::Taken;
    const auto taken = impl_->call<std::pair<Taken, std::string>>(
        [](Link& link) {
            std::string why;
            const Taken answer = link.take(why);
            return std::make_pair(answer, why);
        },
        connectBoundMs);
    if (!taken) {
        words = impl_->silent(connectBoundMs);
        return Taken::Unreachable;
    }
    words = taken->second;
    return taken->first;
}

// The database keeps each unit's state itself: the plan starts from nothing, and claims
// skip what other benches hold.
std::string RecordDatabase::read(std::string& recorded)
{
    recorded.clear();
    return {};
}

std::string RecordDatabase::open(const std::string&)
{
    return {};
}

std::string RecordDatabase::define(const PageSpec& page, const batch::Plan& plan, const Definition& definition)
{
    // A plan may hold a million units: the call takes its own copy, whatever becomes of it.
    auto owned = std::make_shared<batch::Plan>(plan);
    const PageSpec* defined = &page;
    return impl_->call<std::string>([owned, defined, definition](Link& link) { return link.define(*defined, *owned, definition); },
                                    defineBoundMs)
        .value_or(impl_->silent(defineBoundMs));
}

batch::Claimed RecordDatabase::claimUnit(const std::string& port, const std::string& module, const std::string& identity,
                                         int total)
{
    using Claimed = batch::Claimed;
    std::optional<Claimed> claimed = impl_->call<Claimed>(
        [port, module, identity, total](Link& link) { return link.claimUnit(port, module, identity, total); }, callBoundMs);
    if (!claimed) {
        // Whether it was taken is unknown: should it have been, its bench is gone by the
        // time anyone looks, and the unit shows carried.
        Claimed silent;
        silent.why = impl_->silent(callBoundMs);
        return silent;
    }
    if (claimed->kind == Claimed::Unit)
        impl_->claimed[port] = *claimed->choice.unit;
    return *claimed;
}

batch::Claimed RecordDatabase::claim(const ClaimAsk& ask, batch::Batch& batch, const batch::Plan&)
{
    const std::size_t held = batch.InFlight(ask.port).value_or(0);
    const batch::Claimed claimed = claimUnit(ask.port, ask.module, ask.moduleIdentity, ask.startedRow(held).total);
    // The batch here follows what the line chose.
    if (claimed.kind == batch::Claimed::Unit)
        batch.Reassign(ask.port, *claimed.choice.unit);
    else if (claimed.kind == batch::Claimed::NoneLeft)
        batch.Exhausted(ask.port);
    return claimed;
}

std::string RecordDatabase::adopt(const PageSpec& page, batch::Plan& plan, const Definition& definition, bool dryRun,
                                  bool& lost)
{
    if (!dryRun) {
        if (std::string why = define(page, plan, definition); !why.empty()) {
            lost = !probe().empty();
            return why;
        }
    }
    // Where the line stands: units set up or carried are no bench's to offer.
    plan.recorded = recordedUnits(plan.units.size());
    plan.portsHoldingAModule = heldPorts();
    plan.carriers = carriers();
    return {};
}

std::string RecordDatabase::end(const batch::RecordRow& row)
{
    const auto unit = impl_->claimed.find(row.port);
    if (unit == impl_->claimed.end())
        return "no unit was claimed for " + row.port;
    const std::size_t ended = unit->second;
    const std::string why = impl_->call<std::string>([ended, row](Link& link) { return link.end(ended, row); }, callBoundMs)
                                .value_or(impl_->silent(callBoundMs));
    if (why.empty())
        impl_->claimed.erase(row.port);
    return why;
}

std::string RecordDatabase::probe()
{
    return impl_->call<std::string>([](Link& link) { return link.connect(); }, connectBoundMs)
        .value_or(impl_->silent(connectBoundMs));
}

std::vector<batch::Recorded> RecordDatabase::recordedUnits(std::size_t units)
{
    return impl_->call<std::vector<batch::Recorded>>([units](Link& link) { return link.recordedUnits(units); }, defineBoundMs)
        .value_or(std::vector<batch::Recorded>(units, batch::Recorded::Nothing));
}

std::map<std::size_t, std::string> RecordDatabase::carriers()
{
    return impl_->call<std::map<std::size_t, std::string>>([](Link& link) { return link.carriers(); }, callBoundMs)
        .value_or(std::map<std::size_t, std::string>());
}

std::vector<batch::HeldPort> RecordDatabase::heldPorts()
{
    return impl_->call<std::vector<batch::HeldPort>>([](Link& link) { return link.heldPorts(); }, callBoundMs)
        .value_or(std::vector<batch::HeldPort>());
}

std::string RecordDatabase::line(Line& state)
{
    return impl_->read(&Link::line, state, callBoundMs);
}

std::string RecordDatabase::batches(std::vector<BatchLine>& batches)
{
    return impl_->read(&Link::batches, batches, callBoundMs);
}

std::string RecordDatabase::report(batch::Report& report)
{
    return impl_->read(&Link::report, report, defineBoundMs);
}

std::string RecordDatabase::counts()
{
    Line state;
    if (!line(state).empty())
        return {};
    return LineCounts(state);
}

void RecordDatabase::release()
{
    impl_->worker.reset();
}

std::string LineCounts(const RecordDatabase::Line& line)
{
    return batch::LineCountsWords(line.claimed, line.total, line.setUp, line.failed, line.cutShort, line.inProgress);
}

std::string BenchName()
{
    return bytes(QSysInfo::machineHostName());
}

} // namespace qz
