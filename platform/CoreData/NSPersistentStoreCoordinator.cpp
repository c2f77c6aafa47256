#include "platform/CoreData/NSPersistentStoreCoordinator.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "platform/CoreData/NSManagedObject.h"
#include "platform/Foundation/BinaryPropertyList.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/PropertyList.h"

namespace {

// One prepared statement, finalized when it goes; a copy would finalize it twice.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt != nullptr; }
};

std::string tableName(const std::string& name) {
    std::string t = "Z";
    for (char c : name) t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
}

std::string columnList(const NSEntityDescription& entity) {
    std::string list;
    for (const auto& a : entity.attributes()) list += ", " + tableName(a.name);
    return list;
}

NSErrorPtr storeError(long code, const std::string& description, sqlite3* db = nullptr) {
    std::string text = description;
    if (db)
        text += ": " + std::string(sqlite3_errmsg(db));
    return NSError::make(NSCocoaErrorDomain, code, text);
}

// The store's file or its journal when either is a symbolic link; a folder on the way may be one.
std::optional<std::string> linkAtStore(const std::string& path) {
    for (const std::string& name : {path, path + "-journal"}) {
        std::error_code ec;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(name, ec)))
            return name;
    }
    return std::nullopt;
}

bool exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string newUUID() {
    std::random_device random;
    unsigned char b[16];
    for (auto& x : b) x = static_cast<unsigned char>(random());
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::map<std::string, uint64_t> modelHashes(const NSManagedObjectModel& model) {
    std::map<std::string, uint64_t> hashes;
    for (const auto& e : model.entities()) hashes[e->name()] = e->versionHash();
    return hashes;
}

// The metadata's binary property list: store type, identifier and the version hash of each
// entity as 8 bytes, big-endian.
std::string metadataPlist(const std::string& uuid, const NSManagedObjectModel& model) {
    ValueDictionary hashes;
    for (const auto& [name, hash] : modelHashes(model)) {
        Data bytes(8);
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(hash >> (56 - 8 * i));
        hashes.set(name, Value(std::move(bytes)));
    }
    ValueDictionary root;
    root.set("NSStoreType", Value(std::string(NSSQLiteStoreType)));
    root.set("NSStoreUUID", Value(uuid));
    root.set("NSStoreModelVersionHashes", Value(std::move(hashes)));
    const auto bytes = PropertyList::writeBinary(Value(std::move(root)));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// The version hashes stored in a metadata property list; nullopt when it is not one. A hash
// that is not 8 bytes of data reads as 0.
std::optional<std::map<std::string, uint64_t>> storedHashes(const void* blob, int size) {
    if (!blob || size <= 0)
        return std::nullopt;
    const auto list =
        BinaryPropertyList::open(static_cast<const uint8_t*>(blob), static_cast<size_t>(size));
    const auto hashes = list ? list->value(list->top(), "NSStoreModelVersionHashes") : std::nullopt;
    if (!hashes || !list->is(*hashes, BinaryPropertyList::kDictionary))
        return std::nullopt;
    std::map<std::string, uint64_t> result;
    const uint64_t n = list->count(*hashes);
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t value = list->element(*hashes, n + i);
        uint64_t hash = 0;
        if (list->is(value, BinaryPropertyList::kData) && list->count(value) == 8)
            for (int b = 0; b < 8; ++b) hash = (hash << 8) | list->payload(value)[b];
        result[*list->string(list->element(*hashes, i))] = hash;
    }
    return result;
}

void bindValue(sqlite3_stmt* stmt, int index, const Value& v) {
    if (v.isString())
        sqlite3_bind_text(stmt, index, v.string().c_str(), -1, SQLITE_TRANSIENT);
    else if (v.isDate())
        sqlite3_bind_double(stmt, index, v.date().timeIntervalSinceReferenceDate());
    else
        sqlite3_bind_null(stmt, index);
}

Value columnValue(sqlite3_stmt* stmt, int index, NSAttributeType type) {
    if (sqlite3_column_type(stmt, index) == SQLITE_NULL)
        return Value();
    if (type == NSAttributeType::Date)
        return Value(
            NSDate::dateWithTimeIntervalSinceReferenceDate(sqlite3_column_double(stmt, index)));
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return Value(std::string(reinterpret_cast<const char*>(text)));
}

bool valid(const NSManagedObject& object, std::string* problem) {
    const auto& attributes = object.entity()->attributes();
    for (const auto& a : attributes) {
        Value v = object.valueForKey(a.name);
        bool ok =
            v.isNull() || (a.attributeType == NSAttributeType::String ? v.isString() : v.isDate());
        if (!ok) {
            *problem =
                "the value of " + object.entity()->name() + "." + a.name + " has the wrong type";
            return false;
        }
    }
    return true;
}

bool insertRow(sqlite3* db, const NSEntityDescription& entity, int number, int64_t key,
               const std::vector<Value>& values) {
    std::string marks;
    for (size_t i = 0; i < entity.attributes().size(); ++i) marks += ", ?";
    Statement insert(db, "INSERT INTO " + tableName(entity.name()) + " (Z_PK, Z_ENT, Z_OPT" +
                             columnList(entity) + ") VALUES (?, ?, 1" + marks + ")");
    if (!insert)
        return false;
    sqlite3_bind_int64(insert.stmt, 1, key);
    sqlite3_bind_int(insert.stmt, 2, number);
    for (size_t i = 0; i < values.size(); ++i)
        bindValue(insert.stmt, static_cast<int>(i + 3), values[i]);
    return sqlite3_step(insert.stmt) == SQLITE_DONE;
}

bool updateRow(sqlite3* db, const NSEntityDescription& entity, int64_t key,
               const std::vector<Value>& values) {
    std::string sets = "Z_OPT = Z_OPT + 1";
    for (const auto& a : entity.attributes()) sets += ", " + tableName(a.name) + " = ?";
    Statement update(db, "UPDATE " + tableName(entity.name()) + " SET " + sets + " WHERE Z_PK = ?");
    if (!update)
        return false;
    const int n = static_cast<int>(values.size());
    for (int i = 0; i < n; ++i) bindValue(update.stmt, i + 1, values[i]);
    sqlite3_bind_int64(update.stmt, n + 1, key);
    return sqlite3_step(update.stmt) == SQLITE_DONE;
}

bool deleteRow(sqlite3* db, const NSEntityDescription& entity, int64_t key) {
    Statement remove(db, "DELETE FROM " + tableName(entity.name()) + " WHERE Z_PK = ?");
    if (!remove)
        return false;
    sqlite3_bind_int64(remove.stmt, 1, key);
    return sqlite3_step(remove.stmt) == SQLITE_DONE;
}

bool storeMaxKey(sqlite3* db, int number, int64_t max) {
    Statement set(db, "UPDATE Z_PRIMARYKEY SET Z_MAX = ? WHERE Z_ENT = ?");
    if (!set)
        return false;
    sqlite3_bind_int64(set.stmt, 1, max);
    sqlite3_bind_int(set.stmt, 2, number);
    return sqlite3_step(set.stmt) == SQLITE_DONE;
}

}  // namespace

std::shared_ptr<NSPersistentStoreCoordinator>
NSPersistentStoreCoordinator::initWithManagedObjectModel(
    std::shared_ptr<NSManagedObjectModel> model) {
    if (!model)
        return nullptr;
    return std::make_shared<NSPersistentStoreCoordinator>(std::move(model));
}

NSPersistentStoreCoordinator::NSPersistentStoreCoordinator(
    std::shared_ptr<NSManagedObjectModel> model)
    : model_(std::move(model)) {}

NSPersistentStoreCoordinator::~NSPersistentStoreCoordinator() {
    sqlite3_close(db_);
}

int NSPersistentStoreCoordinator::entityNumber(const NSEntityDescription& entity) const {
    const auto& all = model_->entities();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i]->name() == entity.name())
            return static_cast<int>(i + 1);
    return 0;
}

bool NSPersistentStoreCoordinator::addPersistentStoreWithType(const std::string& storeType,
                                                              const std::string& path,
                                                              NSErrorPtr* error) {
    NSErrorPtr failure;
    if (storeType != NSSQLiteStoreType) {
        failure = storeError(NSPersistentStoreInvalidTypeError, "unknown store type " + storeType);
    } else if (db_) {
        failure = storeError(NSPersistentStoreInvalidTypeError, "a store was already added");
    } else if (auto link = linkAtStore(path)) {
        failure = NSError::make(NSPOSIXErrorDomain, ELOOP,
                                *link + " is a symbolic link; the store is not opened through it");
    } else if (sqlite3_open_v2(stringByResolvingFolderLinksInPath(path).c_str(), &db_,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                               nullptr) != SQLITE_OK) {
        failure = storeError(NSSQLiteError, "cannot open " + path, db_);
    } else {
        sqlite3_busy_timeout(db_, kBusyTimeoutMilliseconds);
        Statement count(db_, "SELECT count(*) FROM sqlite_master");
        if (!count || sqlite3_step(count.stmt) != SQLITE_ROW)
            failure = storeError(NSFileReadCorruptFileError, path + " is not a store", db_);
        else if (sqlite3_column_int(count.stmt, 0) == 0)
            createSchema(&failure);
        else
            checkSchema(&failure);
    }
    if (!failure)
        return true;
    sqlite3_close(db_);
    db_ = nullptr;
    if (error)
        *error = failure;
    return false;
}

bool NSPersistentStoreCoordinator::createSchema(NSErrorPtr* error) {
    std::string uuid = newUUID();
    std::string sql =
        "BEGIN;"
        "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, "
        "Z_MAX INTEGER);"
        "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST "
        "BLOB);";
    for (const auto& e : model_->entities()) {
        sql += "CREATE TABLE " + tableName(e->name()) +
               " ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER";
        for (const auto& a : e->attributes())
            sql += ", " + tableName(a.name) +
                   (a.attributeType == NSAttributeType::Date ? " TIMESTAMP" : " VARCHAR");
        sql += " );";
        sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(entityNumber(*e)) + ", '" +
               e->name() + "', 0, 0);";
    }
    bool ok = exec(db_, sql);
    if (ok) {
        Statement insert(db_, "INSERT INTO Z_METADATA VALUES (1, ?, ?)");
        std::string plist = metadataPlist(uuid, *model_);
        ok = bool(insert);
        if (ok) {
            sqlite3_bind_text(insert.stmt, 1, uuid.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert.stmt, 2, plist.data(), static_cast<int>(plist.size()),
                              SQLITE_TRANSIENT);
            ok = sqlite3_step(insert.stmt) == SQLITE_DONE;
        }
    }
    if (ok)
        ok = exec(db_, "COMMIT");
    if (!ok) {
        *error = storeError(NSSQLiteError, "cannot create the store", db_);
        exec(db_, "ROLLBACK");
        return false;
    }
    return true;
}

bool NSPersistentStoreCoordinator::checkSchema(NSErrorPtr* error) {
    // Z_UUID is selected, though not read: a metadata table without it is no store.
    Statement meta(db_, "SELECT Z_UUID, Z_PLIST FROM Z_METADATA WHERE Z_VERSION = 1");
    if (!meta || sqlite3_step(meta.stmt) != SQLITE_ROW) {
        *error = storeError(NSFileReadCorruptFileError, "the file is not a store", db_);
        return false;
    }
    auto hashes =
        storedHashes(sqlite3_column_blob(meta.stmt, 1), sqlite3_column_bytes(meta.stmt, 1));
    if (!hashes) {
        *error = storeError(NSFileReadCorruptFileError, "the store's metadata cannot be read");
        return false;
    }
    if (*hashes != modelHashes(*model_)) {
        *error = storeError(NSPersistentStoreIncompatibleVersionHashError,
                            "The model used to open the store is incompatible with the one used "
                            "to create the store");
        return false;
    }
    for (const auto& e : model_->entities()) {
        Statement probe(db_, "SELECT Z_PK, Z_ENT, Z_OPT" + columnList(*e) + " FROM " +
                                 tableName(e->name()) + " LIMIT 0");
        if (!probe) {
            *error = storeError(NSFileReadCorruptFileError, "the store's tables are damaged", db_);
            return false;
        }
    }
    return true;
}

std::optional<std::vector<NSPersistentStoreCoordinator::Row>>
NSPersistentStoreCoordinator::fetchRows(const NSEntityDescription& entity, NSErrorPtr* error) {
    Statement select(db_, "SELECT Z_PK" + columnList(entity) + " FROM " + tableName(entity.name()) +
                              " ORDER BY Z_PK");
    if (!db_ || !select) {
        if (error)
            *error = storeError(NSSQLiteError, "cannot fetch " + entity.name(), db_);
        return std::nullopt;
    }
    std::vector<Row> rows;
    const auto& attributes = entity.attributes();
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        Row row{sqlite3_column_int64(select.stmt, 0), {}};
        for (size_t i = 0; i < attributes.size(); ++i)
            row.values.push_back(
                columnValue(select.stmt, static_cast<int>(i + 1), attributes[i].attributeType));
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        if (error)
            *error = storeError(NSSQLiteError, "cannot fetch " + entity.name(), db_);
        return std::nullopt;
    }
    return rows;
}

std::optional<std::map<int, int64_t>> NSPersistentStoreCoordinator::readMaxKeys() const {
    std::map<int, int64_t> maxKeys;
    for (const auto& e : model_->entities()) {
        const int number = entityNumber(*e);
        Statement max(db_,
                      "SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_ENT = " + std::to_string(number));
        if (!max || sqlite3_step(max.stmt) != SQLITE_ROW)
            return std::nullopt;
        maxKeys[number] = sqlite3_column_int64(max.stmt, 0);
    }
    return maxKeys;
}

bool NSPersistentStoreCoordinator::writeChanges(const std::vector<NSManagedObject*>& inserted,
                                                const std::vector<NSManagedObject*>& updated,
                                                const std::vector<NSManagedObject*>& deleted,
                                                std::vector<int64_t>* newKeys) {
    if (!exec(db_, "BEGIN IMMEDIATE"))
        return false;
    auto maxKeys = readMaxKeys();
    if (!maxKeys)
        return false;
    newKeys->clear();
    for (NSManagedObject* object : inserted) {
        const int number = entityNumber(*object->entity());
        const int64_t key = ++(*maxKeys)[number];
        if (!insertRow(db_, *object->entity(), number, key, object->values_))
            return false;
        newKeys->push_back(key);
    }
    for (NSManagedObject* object : updated)
        if (!updateRow(db_, *object->entity(), object->primaryKey_, object->values_))
            return false;
    for (NSManagedObject* object : deleted)
        if (!deleteRow(db_, *object->entity(), object->primaryKey_))
            return false;
    for (const auto& [number, max] : *maxKeys)
        if (!storeMaxKey(db_, number, max))
            return false;
    return exec(db_, "COMMIT");
}

bool NSPersistentStoreCoordinator::saveChanges(const std::vector<NSManagedObject*>& inserted,
                                               const std::vector<NSManagedObject*>& updated,
                                               const std::vector<NSManagedObject*>& deleted,
                                               std::vector<int64_t>* newKeys, NSErrorPtr* error) {
    std::string problem;
    for (const auto* list : {&inserted, &updated})
        for (const NSManagedObject* object : *list)
            if (!valid(*object, &problem)) {
                if (error)
                    *error = storeError(NSValidationErrorMinimum, problem);
                return false;
            }
    if (!db_) {
        if (error)
            *error = storeError(NSSQLiteError, "no store was added");
        return false;
    }
    if (writeChanges(inserted, updated, deleted, newKeys))
        return true;
    if (error)
        *error = storeError(NSSQLiteError, "cannot save", db_);
    exec(db_, "ROLLBACK");
    return false;
}
