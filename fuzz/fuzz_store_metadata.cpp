// A recordings store ("Videos.sqlite") added from a file: its metadata and tables are checked
// against the application's model, then its rows are read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/CoreData/NSManagedObjectModel.h"
#include "platform/CoreData/NSPersistentStoreCoordinator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto model = NSManagedObjectModel::mergedModelFromFiles(
        {std::string(TILVEX_SOURCE_DIR) + "/app/Resources/Tilvex.mom"});
    static const std::string path =
        "/tmp/tilvex-fuzz-store-" + std::to_string(::getpid()) + ".sqlite";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    auto coordinator = NSPersistentStoreCoordinator::initWithManagedObjectModel(model);
    NSErrorPtr error;
    if (coordinator->addPersistentStoreWithType(NSSQLiteStoreType, path, &error)) {
        for (const auto& entity : model->entities()) (void)coordinator->fetchRows(*entity, &error);
    } else if (!error) {
        __builtin_trap();  // a refused store always says why
    }
    coordinator.reset();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        std::remove((path + suffix).c_str());
    return 0;
}
