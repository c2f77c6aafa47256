#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/CoreData/NSManagedObjectContext.h"

namespace {

const std::string kModelPath = std::string(TILVEX_SOURCE_DIR) + "/app/Resources/Tilvex.mom";

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("store-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "Videos.sqlite").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::shared_ptr<NSManagedObjectContext> open(NSErrorPtr* error = nullptr,
                                                 const std::string& model = kModelPath) {
        auto coordinator = NSPersistentStoreCoordinator::initWithManagedObjectModel(
            NSManagedObjectModel::mergedModelFromFiles({model}));
        if (!coordinator ||
            !coordinator->addPersistentStoreWithType(NSSQLiteStoreType, path_, error))
            return nullptr;
        auto context = std::make_shared<NSManagedObjectContext>();
        context->setPersistentStoreCoordinator(coordinator);
        return context;
    }

    static std::vector<std::string> titlesNewestFirst(NSManagedObjectContext& context) {
        NSFetchRequest request;
        request.setEntity(context.entityForName("Video"));
        request.setSortDescriptors({NSSortDescriptor("creationDate", false)});
        NSErrorPtr error;
        auto rows = context.executeFetchRequest(request, &error);
        EXPECT_TRUE(rows.has_value());
        std::vector<std::string> titles;
        for (const auto& v : rows.value_or(std::vector<std::shared_ptr<NSManagedObject>>{}))
            titles.push_back(v->valueForKey("title").string());
        return titles;
    }

    static std::shared_ptr<NSManagedObject> insert(NSManagedObjectContext& context,
                                                   const std::string& title, double date) {
        auto v = context.insertNewObjectForEntityForName("Video");
        v->setValue(title, "title");
        v->setValue("Video_0001", "videoPath");
        v->setValue(NSDate::dateWithTimeIntervalSinceReferenceDate(date), "creationDate");
        return v;
    }

    std::filesystem::path dir_;
    std::string path_;
};

}  // namespace

TEST_F(StoreTest, InsertSaveFetchSortedAndDeleteAcrossReopen) {
    {
        auto context = open();
        ASSERT_NE(context, nullptr);
        EXPECT_TRUE(titlesNewestFirst(*context).empty());
        EXPECT_FALSE(context->hasChanges());
        insert(*context, "0:03", 100);
        insert(*context, "0:10", 300);
        insert(*context, "1:00", 200);
        EXPECT_TRUE(context->hasChanges());
        // Pending inserts are fetched too.
        EXPECT_EQ(titlesNewestFirst(*context), (std::vector<std::string>{"0:10", "1:00", "0:03"}));
        NSErrorPtr error;
        ASSERT_TRUE(context->save(&error)) << error->description();
        EXPECT_FALSE(context->hasChanges());
    }
    {
        auto context = open();
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(titlesNewestFirst(*context), (std::vector<std::string>{"0:10", "1:00", "0:03"}));
        NSFetchRequest request;
        request.setEntity(context->entityForName("Video"));
        auto rows = context->executeFetchRequest(request, nullptr);
        ASSERT_EQ(rows->size(), 3u);
        EXPECT_EQ((*rows)[0]->valueForKey("creationDate").date().timeIntervalSinceReferenceDate(),
                  100);
        EXPECT_TRUE((*rows)[0]->valueForKey("soundPath").isNull());
        // The same row is the same object while it lives.
        EXPECT_EQ(context->executeFetchRequest(request, nullptr)->at(1), (*rows)[1]);
        context->deleteObject((*rows)[2]);  // "1:00"
        EXPECT_TRUE(context->hasChanges());
        EXPECT_EQ(titlesNewestFirst(*context), (std::vector<std::string>{"0:10", "0:03"}));
        (*rows)[0]->setValue("0:04", "title");
        EXPECT_TRUE(context->save(nullptr));
    }
    auto context = open();
    EXPECT_EQ(titlesNewestFirst(*context), (std::vector<std::string>{"0:10", "0:04"}));
    // An unsaved insert that is deleted again leaves nothing to save.
    auto v = insert(*context, "9:99", 1);
    context->deleteObject(v);
    EXPECT_FALSE(context->hasChanges());
}

TEST_F(StoreTest, WritesThePlatformTableLayout) {
    auto context = open();
    ASSERT_NE(context, nullptr);
    insert(*context, "0:05", 12.5);
    ASSERT_TRUE(context->save(nullptr));
    context.reset();

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    auto text = [&](const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
            while (sqlite3_step(s) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(s); ++i) {
                    const unsigned char* t = sqlite3_column_text(s, i);
                    out +=
                        (i ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
                }
                out += ";";
            }
        }
        sqlite3_finalize(s);
        return out;
    };
    EXPECT_EQ(text("SELECT name, type FROM pragma_table_info('ZVIDEO')"),
              "Z_PK|INTEGER;Z_ENT|INTEGER;Z_OPT|INTEGER;ZCREATIONDATE|TIMESTAMP;ZSOUNDPATH|VARCHAR;"
              "ZTHUMBPATH|VARCHAR;ZTITLE|VARCHAR;ZVIDEOPATH|VARCHAR;");
    EXPECT_EQ(text("SELECT Z_PK, Z_ENT, Z_OPT, ZCREATIONDATE, ZTITLE, ZVIDEOPATH FROM ZVIDEO"),
              "1|1|1|12.5|0:05|Video_0001;");
    EXPECT_EQ(text("SELECT * FROM Z_PRIMARYKEY"), "1|Video|0|1;");
    EXPECT_EQ(text("SELECT name, type FROM pragma_table_info('Z_METADATA')"),
              "Z_VERSION|INTEGER;Z_UUID|VARCHAR(255);Z_PLIST|BLOB;");
    EXPECT_EQ(text("SELECT Z_VERSION, length(Z_UUID), substr(Z_PLIST, 1, 8) FROM Z_METADATA"),
              "1|36|bplist00;");
    sqlite3_close(db);
}

TEST_F(StoreTest, RefusesFilesThatAreNotThisModelsStore) {
    const std::string otherModel = (dir_ / "Other.mom").string();
    {
        std::ifstream in(kModelPath);
        std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        xml.replace(xml.find("thumbPath"), 9, "thumbnail");
        std::ofstream(otherModel) << xml;
    }
    ASSERT_NE(open(), nullptr);  // creates the store for the real model
    NSErrorPtr error;
    EXPECT_EQ(open(&error, otherModel), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSPersistentStoreIncompatibleVersionHashError);

    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"text", "this is not a database at all, but it is long enough to look like a header"},
        {"other database", ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path_);
        if (c.content.empty()) {
            sqlite3* db = nullptr;
            sqlite3_open(path_.c_str(), &db);
            sqlite3_exec(db, "CREATE TABLE beacon (id INTEGER)", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else {
            std::ofstream(path_) << c.content;
        }
        error.reset();
        EXPECT_EQ(open(&error), nullptr) << c.name;
        ASSERT_NE(error, nullptr) << c.name;
        EXPECT_EQ(error->code(), NSFileReadCorruptFileError) << c.name;
    }
}

TEST_F(StoreTest, FailedSaveKeepsChangesPending) {
    auto context = open();
    ASSERT_NE(context, nullptr);
    auto v = insert(*context, "0:01", 1);
    v->setValue(42, "title");  // a number where a string belongs
    NSErrorPtr error;
    EXPECT_FALSE(context->save(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(context->hasChanges());
    v->setValue("0:01", "title");
    EXPECT_TRUE(context->save(&error));
    EXPECT_EQ(titlesNewestFirst(*open()), std::vector<std::string>{"0:01"});
}

// What the next save inserts and deletes is listed until it succeeds, and then no more.
TEST_F(StoreTest, PendingInsertsAndDeletionsAreListedUntilSaved) {
    auto context = open();
    ASSERT_NE(context, nullptr);
    auto saved = insert(*context, "0:01", 1);
    ASSERT_TRUE(context->save(nullptr));
    auto inserted = insert(*context, "0:02", 2);
    auto dropped = insert(*context, "0:03", 3);
    context->deleteObject(saved);
    context->deleteObject(dropped);
    using Objects = std::vector<std::shared_ptr<NSManagedObject>>;
    EXPECT_EQ(context->insertedObjects(), Objects{inserted});
    EXPECT_EQ(context->deletedObjects(), Objects{saved}) << "an unsaved object is simply dropped";
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_TRUE(context->insertedObjects().empty());
    EXPECT_TRUE(context->deletedObjects().empty());
    EXPECT_EQ(titlesNewestFirst(*open()), std::vector<std::string>{"0:02"});
}

// A link at the store's file or its journal is never opened through (SQLite would write the
// rows, or a new file, at its target): the open is refused with ELOOP, naming the link. A folder
// on the way that is a link is no such thing.
TEST_F(StoreTest, ALinkAtTheFileOrItsJournalIsRefusedAndAFolderLinkIsNot) {
    const std::filesystem::path outside = dir_ / "outside";
    std::filesystem::create_directory(outside);
    {
        auto context = open();
        ASSERT_NE(context, nullptr);
        insert(*context, "0:01", 1);
        ASSERT_TRUE(context->save(nullptr));
    }
    std::filesystem::rename(path_, outside / "Videos.sqlite");
    struct Case {
        const char* name;
        std::string link;
        std::filesystem::path target;
    };
    const Case cases[] = {
        {"the file, at a store", path_, outside / "Videos.sqlite"},
        {"the file, at nothing", path_, outside / "nothing.sqlite"},
        {"the journal, at nothing", path_ + "-journal", outside / "nothing-journal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::create_symlink(c.target, c.link);
        NSErrorPtr error;
        EXPECT_EQ(open(&error), nullptr);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
        EXPECT_EQ(error->code(), ELOOP);
        EXPECT_EQ(error->localizedDescription(),
                  c.link + " is a symbolic link; the store is not opened through it");
        EXPECT_FALSE(std::filesystem::exists(outside / "nothing.sqlite"));
        EXPECT_FALSE(std::filesystem::exists(outside / "nothing-journal"));
        std::filesystem::remove(c.link);
        std::filesystem::remove(path_);
    }

    // The folder itself reached through a link: the store opens, keeps its row, saves.
    std::filesystem::remove_all(dir_ / "kept");
    std::filesystem::create_directory_symlink(outside, dir_ / "kept");
    path_ = (dir_ / "kept" / "Videos.sqlite").string();
    auto context = open();
    ASSERT_NE(context, nullptr);
    insert(*context, "0:02", 2);
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_EQ(titlesNewestFirst(*context), (std::vector<std::string>{"0:02", "0:01"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(
        std::filesystem::symlink_status(outside / "Videos.sqlite")));
}
