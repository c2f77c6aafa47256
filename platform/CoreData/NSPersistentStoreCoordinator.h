#pragma once
// The link between a model and its one SQLite store. The store uses the platform's table layout:
// a table Z<ENTITY> per entity (Z_PK, Z_ENT, Z_OPT, then Z<ATTRIBUTE> per attribute in name order;
// dates as seconds since 2001-01-01 UTC), Z_PRIMARYKEY and Z_METADATA, whose Z_PLIST holds the
// store's identifier and the model's version hashes. Main thread only.

#include <sqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CoreData/NSManagedObjectModel.h"
#include "platform/Foundation/NSError.h"

inline constexpr const char* NSSQLiteStoreType = "SQLite";
inline constexpr long NSFileReadCorruptFileError = 259;
inline constexpr long NSFileReadNoSuchFileError = 260;
inline constexpr long NSValidationErrorMinimum = 1550;
inline constexpr long NSPersistentStoreInvalidTypeError = 134000;
inline constexpr long NSPersistentStoreIncompatibleVersionHashError = 134100;
inline constexpr long NSSQLiteError = 134180;

class NSManagedObject;

class NSPersistentStoreCoordinator {
  public:
    static std::shared_ptr<NSPersistentStoreCoordinator> initWithManagedObjectModel(
        std::shared_ptr<NSManagedObjectModel> model);
    explicit NSPersistentStoreCoordinator(std::shared_ptr<NSManagedObjectModel> model);
    ~NSPersistentStoreCoordinator();
    // One owner of the connection: a copy would close it twice.
    NSPersistentStoreCoordinator(const NSPersistentStoreCoordinator&) = delete;
    NSPersistentStoreCoordinator& operator=(const NSPersistentStoreCoordinator&) = delete;

    const std::shared_ptr<NSManagedObjectModel>& managedObjectModel() const { return model_; }

    // How long a read or a save waits for another connection (a backup tool, an sqlite3 shell)
    // that holds the store's file locked, before it fails with "database is locked".
    static constexpr int kBusyTimeoutMilliseconds = 3000;

    // Opens the SQLite store at `path` (no configuration, no options: no migration), creating a
    // missing or empty file. False with `*error` set for another store type, a file that is not
    // such a store, a store made for a different model, or a second store; and, in
    // NSPOSIXErrorDomain with code ELOOP, when the file or its journal is a symbolic link (never
    // followed: a folder on the way may be one).
    bool addPersistentStoreWithType(const std::string& storeType, const std::string& path,
                                    NSErrorPtr* error);

    // For the context: the rows of `entity` as (primary key, values in attribute order).
    struct Row {
        int64_t primaryKey;
        std::vector<Value> values;
    };
    std::optional<std::vector<Row>> fetchRows(const NSEntityDescription& entity, NSErrorPtr* error);
    // For the context: writes all changes in one transaction; on success gives each inserted
    // object its primary key. On failure nothing is written and `*error` is set.
    bool saveChanges(const std::vector<NSManagedObject*>& inserted,
                     const std::vector<NSManagedObject*>& updated,
                     const std::vector<NSManagedObject*>& deleted, std::vector<int64_t>* newKeys,
                     NSErrorPtr* error);

  private:
    bool createSchema(NSErrorPtr* error);
    bool checkSchema(NSErrorPtr* error);
    int entityNumber(const NSEntityDescription& entity) const;
    // The highest primary key given out so far, by entity number; nullopt when unreadable.
    std::optional<std::map<int, int64_t>> readMaxKeys() const;
    // The transaction of saveChanges; false when a step failed (the caller rolls back).
    bool writeChanges(const std::vector<NSManagedObject*>& inserted,
                      const std::vector<NSManagedObject*>& updated,
                      const std::vector<NSManagedObject*>& deleted, std::vector<int64_t>* newKeys);

    std::shared_ptr<NSManagedObjectModel> model_;
    sqlite3* db_ = nullptr;
};
