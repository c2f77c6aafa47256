#include "platform/Foundation/NSKeyedArchiver.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/Foundation/NSException.h"

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

constexpr uint64_t kArchiveVersion = 100000;
constexpr const char* kArchiverName = "NSKeyedArchiver";

bool hasType(plist_t node, plist_type type) {
    return node != nullptr && plist_get_node_type(node) == type;
}

bool stringEquals(plist_t node, const char* expected) {
    if (!hasType(node, PLIST_STRING))
        return false;
    uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    return s != nullptr && length == std::strlen(expected) && std::memcmp(s, expected, length) == 0;
}

// The object that `uid` (a UID node) points at in `objects`; nullptr when `uid` is not a UID, is
// "$null" or lies outside the table.
plist_t objectForUid(plist_t objects, plist_t uid) {
    if (!hasType(uid, PLIST_UID))
        return nullptr;
    uint64_t index = 0;
    plist_get_uid_val(uid, &index);
    if (index == 0 || index >= plist_array_get_size(objects))
        return nullptr;
    return plist_array_get_item(objects, static_cast<uint32_t>(index));
}

bool isArrayClass(plist_t classEntry) {
    if (!hasType(classEntry, PLIST_DICT))
        return false;
    plist_t name = plist_dict_get_item(classEntry, "$classname");
    return stringEquals(name, "NSArray") || stringEquals(name, "NSMutableArray");
}

std::optional<Value> unarchive(const char* bytes, size_t length) {
    if (length > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_bin(bytes, static_cast<uint32_t>(length), &parsed);
    Plist owner(parsed);
    if (!hasType(parsed, PLIST_DICT))
        return std::nullopt;
    if (!stringEquals(plist_dict_get_item(parsed, "$archiver"), kArchiverName))
        return std::nullopt;
    plist_t top = plist_dict_get_item(parsed, "$top");
    plist_t objects = plist_dict_get_item(parsed, "$objects");
    if (!hasType(top, PLIST_DICT) || !hasType(objects, PLIST_ARRAY))
        return std::nullopt;

    plist_t root = objectForUid(objects, plist_dict_get_item(top, "root"));
    if (!hasType(root, PLIST_DICT))
        return std::nullopt;
    if (!isArrayClass(objectForUid(objects, plist_dict_get_item(root, "$class"))))
        return std::nullopt;
    plist_t members = plist_dict_get_item(root, "NS.objects");
    if (!hasType(members, PLIST_ARRAY))
        return std::nullopt;

    uint32_t count = plist_array_get_size(members);
    ValueArray items;
    items.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t member = objectForUid(objects, plist_array_get_item(members, i));
        if (!hasType(member, PLIST_DATA))
            return std::nullopt;
        uint64_t size = 0;
        const char* p = plist_get_data_ptr(member, &size);
        auto* begin = reinterpret_cast<const uint8_t*>(p);
        items.emplace_back(std::make_shared<const Data>(begin, begin + (p ? size : 0)));
    }
    return Value(std::move(items));
}

}  // namespace

Data NSKeyedArchiver::archivedDataWithRootObject(const Value& rootObject) {
    if (!rootObject.isArray())
        NSException::raise(NSInvalidArgumentException, "the archive's root must be an array");
    const ValueArray& items = rootObject.arrayRef();
    for (const Value& item : items)
        if (!item.isData())
            NSException::raise(NSInvalidArgumentException, "only data elements can be archived");

    // $objects: "$null", the array, its elements, then the array's class entry.
    const uint64_t classUid = 2 + items.size();
    plist_t memberUids = plist_new_array();
    for (uint64_t i = 0; i < items.size(); ++i)
        plist_array_append_item(memberUids, plist_new_uid(2 + i));
    plist_t array = plist_new_dict();
    plist_dict_set_item(array, "NS.objects", memberUids);
    plist_dict_set_item(array, "$class", plist_new_uid(classUid));

    plist_t classes = plist_new_array();
    for (const char* name : {"NSMutableArray", "NSArray", "NSObject"})
        plist_array_append_item(classes, plist_new_string(name));
    plist_t classEntry = plist_new_dict();
    plist_dict_set_item(classEntry, "$classname", plist_new_string("NSMutableArray"));
    plist_dict_set_item(classEntry, "$classes", classes);

    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_array_append_item(objects, array);
    for (const Value& item : items) {
        const Data& bytes = item.data();
        plist_array_append_item(
            objects, plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    plist_array_append_item(objects, classEntry);

    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    Plist archive(plist_new_dict());
    plist_dict_set_item(archive.get(), "$archiver", plist_new_string(kArchiverName));
    plist_dict_set_item(archive.get(), "$version", plist_new_uint(kArchiveVersion));
    plist_dict_set_item(archive.get(), "$top", top);
    plist_dict_set_item(archive.get(), "$objects", objects);

    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(archive.get(), &bytes, &length);
    if (bytes == nullptr)
        NSException::raise(NSInvalidArgumentException, "the array is too large to archive");
    Data result(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
    plist_to_bin_free(bytes);
    return result;
}

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithData(const Data& data) {
    return unarchive(reinterpret_cast<const char*>(data.data()), data.size());
}

std::optional<Value> NSKeyedUnarchiver::unarchiveObjectWithFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto size = static_cast<size_t>(info.st_size);
    // Left uninitialised: an archive of a long recording runs to tens of megabytes.
    std::unique_ptr<char[]> bytes(new char[size + 1]);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, bytes.get() + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<size_t>(n);
    }
    return unarchive(bytes.get(), size);
}
