#include "comport/settings/SqliteRegistryStore.h"

#include <sqlite3.h>

#include <vector>

namespace comport {

namespace {

// One prepared statement, finalized on every path.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) {
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
            SQLITE_OK) {
            stmt_ = nullptr;
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    bool bindText(int i, std::string_view s) {
        return ok() && sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()),
                                         SQLITE_TRANSIENT) == SQLITE_OK;
    }
    bool bindBlob(int i, std::string_view s) {
        // A zero-length blob needs a non-null pointer, or it would be stored as NULL.
        static const char empty = 0;
        return ok() && sqlite3_bind_blob(stmt_, i, s.empty() ? &empty : s.data(),
                                         static_cast<int>(s.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    bool bindInt(int i, std::int64_t v) {
        return ok() && sqlite3_bind_int64(stmt_, i, v) == SQLITE_OK;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return ok() ? sqlite3_step(stmt_) : SQLITE_ERROR; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

std::string normalizeKeyPath(std::string_view path) {
    std::string out;
    while (!path.empty()) {
        const std::size_t sep = path.find('\\');
        const std::string_view part = path.substr(0, sep);
        if (!part.empty()) {
            if (!out.empty()) out += '\\';
            out += part;
        }
        if (sep == std::string_view::npos) break;
        path.remove_prefix(sep + 1);
    }
    return out;
}

constexpr std::string_view schema = R"sql(
CREATE TABLE IF NOT EXISTS registry_keys (
    id   INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE COLLATE NOCASE
);
CREATE TABLE IF NOT EXISTS registry_values (
    key_id INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,
    name   TEXT NOT NULL COLLATE NOCASE,
    type   INTEGER NOT NULL,
    data   BLOB NOT NULL,
    PRIMARY KEY (key_id, name)
) WITHOUT ROWID;
)sql";

} // namespace

TSqliteRegistryStore::TSqliteRegistryStore(const std::string& databasePath,
                                           std::string_view keyPath, TAccess access)
    : keyPath_(normalizeKeyPath(keyPath)) {
    auto openFailure = [&](const std::string& detail) {
        // close_v2: a statement still alive at this point would make a plain close fail and leak.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return ERegistryException("Cannot open registry key '" + keyPath_ + "' in " + databasePath,
                                  detail);
    };
    const int flags =
        access == accessRead ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(databasePath.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
        throw openFailure(db_ ? sqlite3_errmsg(db_) : "out of memory");
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another process holding the file briefly should delay us, not fail us.
    sqlite3_busy_timeout(db_, 5000);
    if (sqlite3_exec(db_, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw openFailure(sqlite3_errmsg(db_));
    }

    if (access == accessReadWrite) {
        // The key and all its parents, as creating a registry key does, in one transaction.
        std::vector<std::string> paths;
        for (std::size_t i = 0; i <= keyPath_.size(); ++i) {
            if (i == keyPath_.size() || keyPath_[i] == '\\') paths.push_back(keyPath_.substr(0, i));
        }
        if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_exec(db_, std::string(schema).c_str(), nullptr, nullptr, nullptr) !=
                SQLITE_OK) {
            throw openFailure(sqlite3_errmsg(db_));
        }
        for (const std::string& p : paths) {
            Statement insert(db_, "INSERT OR IGNORE INTO registry_keys(path) VALUES (?)");
            if (!insert.bindText(1, p) || insert.step() != SQLITE_DONE) {
                const std::string detail = sqlite3_errmsg(db_);
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                throw openFailure(detail);
            }
        }
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            const std::string detail = sqlite3_errmsg(db_);
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw openFailure(detail);
        }
    }

    Statement find(db_, "SELECT id FROM registry_keys WHERE path = ?");
    if (!find.ok()) throw openFailure(sqlite3_errmsg(db_)); // no tables: not a registry file
    find.bindText(1, keyPath_);
    const int rc = find.step();
    if (rc == SQLITE_ROW) {
        keyId_ = sqlite3_column_int64(find.get(), 0);
        return;
    }
    throw openFailure(rc == SQLITE_DONE ? "no such key" : sqlite3_errmsg(db_));
}

TSqliteRegistryStore::~TSqliteRegistryStore() {
    sqlite3_close_v2(db_);
}

std::optional<TSqliteRegistryStore::TRawValue>
TSqliteRegistryStore::getValue(std::string_view name) {
    Statement select(db_, "SELECT type, data FROM registry_values WHERE key_id = ? AND name = ?");
    if (!select.bindInt(1, keyId_) || !select.bindText(2, name)) {
        throw ERegistryException::failedToGet(name, sqlite3_errmsg(db_));
    }
    const int rc = select.step();
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) throw ERegistryException::failedToGet(name, sqlite3_errmsg(db_));
    TRawValue value;
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 0));
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select.get(), 1));
    const int size = sqlite3_column_bytes(select.get(), 1);
    if (bytes && size > 0) value.data.assign(bytes, static_cast<std::size_t>(size));
    return value;
}

void TSqliteRegistryStore::putValue(std::string_view name, std::uint32_t type,
                                    std::string_view data) {
    // Outside beginUpdate one statement is one transaction: the value is replaced whole or not at
    // all.
    Statement upsert(db_, "INSERT INTO registry_values(key_id, name, type, data) "
                          "VALUES (?, ?, ?, ?) ON CONFLICT(key_id, name) "
                          "DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!upsert.bindInt(1, keyId_) || !upsert.bindText(2, name) || !upsert.bindInt(3, type) ||
        !upsert.bindBlob(4, data) || upsert.step() != SQLITE_DONE) {
        throw ERegistryException::failedToSet(name, sqlite3_errmsg(db_));
    }
}

bool TSqliteRegistryStore::deleteValue(std::string_view name) {
    Statement remove(db_, "DELETE FROM registry_values WHERE key_id = ? AND name = ?");
    if (!remove.bindInt(1, keyId_) || !remove.bindText(2, name) || remove.step() != SQLITE_DONE) {
        throw ERegistryException("Failed to delete value '" + std::string(name) + "'",
                                 sqlite3_errmsg(db_));
    }
    return sqlite3_changes(db_) > 0;
}

void TSqliteRegistryStore::beginUpdate() {
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw ERegistryException("Cannot change registry key '" + keyPath_ + "'",
                                 sqlite3_errmsg(db_));
    }
}

void TSqliteRegistryStore::endUpdate() {
    // Some failures (a full disk) end the transaction by themselves; then nothing is left to
    // commit, and the put that failed has already been reported.
    if (sqlite3_get_autocommit(db_)) return;
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const std::string detail = sqlite3_errmsg(db_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw ERegistryException("Cannot change registry key '" + keyPath_ + "'", detail);
    }
}

std::string TSqliteRegistryStore::getText(std::string_view name) {
    const auto value = getValue(name);
    // A value without data has no text to misread, whatever its type says.
    if (!value || value->data.empty()) return {};
    if (value->type != regSz && value->type != regExpandSz) {
        throw ERegistryException::invalidDataType(name);
    }
    return value->data.substr(0, value->data.find('\0'));
}

void TSqliteRegistryStore::putText(std::string_view name, std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    putValue(name, regSz, data);
}

std::int32_t TSqliteRegistryStore::getInteger(std::string_view name) {
    const auto value = getValue(name);
    if (!value || value->data.size() > 4) throw ERegistryException::failedToGet(name);
    if (value->type != regDword) throw ERegistryException::invalidDataType(name);
    // Fewer than four bytes would leave part of the number undefined: refuse it as well.
    if (value->data.size() != 4) throw ERegistryException::failedToGet(name);
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
        bits = (bits << 8) | static_cast<unsigned char>(value->data[static_cast<std::size_t>(i)]);
    }
    return static_cast<std::int32_t>(bits);
}

void TSqliteRegistryStore::putInteger(std::string_view name, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    const char data[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                          static_cast<char>((bits >> 16) & 0xFF),
                          static_cast<char>((bits >> 24) & 0xFF)};
    putValue(name, regDword, std::string_view(data, 4));
}

} // namespace comport
