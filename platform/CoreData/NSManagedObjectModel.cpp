#include "platform/CoreData/NSManagedObjectModel.h"

#include <plist/plist.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string stringItem(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING)
        return {};
    uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    return std::string(s, length);
}

std::optional<NSAttributeDescription> readAttribute(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DICT)
        return std::nullopt;
    std::string name = stringItem(node, "name");
    std::string type = stringItem(node, "type");
    if (name.empty())
        return std::nullopt;
    if (type == "string")
        return NSAttributeDescription{name, NSAttributeType::String};
    if (type == "date")
        return NSAttributeDescription{name, NSAttributeType::Date};
    return std::nullopt;
}

std::shared_ptr<const NSEntityDescription> readEntity(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DICT)
        return nullptr;
    std::string name = stringItem(node, "name");
    plist_t attributes = plist_dict_get_item(node, "attributes");
    if (name.empty() || attributes == nullptr || plist_get_node_type(attributes) != PLIST_ARRAY)
        return nullptr;
    std::vector<NSAttributeDescription> list;
    for (uint32_t i = 0; i < plist_array_get_size(attributes); ++i) {
        auto a = readAttribute(plist_array_get_item(attributes, i));
        if (!a)
            return nullptr;
        list.push_back(*a);
    }
    std::string className = stringItem(node, "class");
    return std::make_shared<NSEntityDescription>(name, className.empty() ? name : className,
                                                 std::move(list));
}

}  // namespace

NSManagedObjectModel::NSManagedObjectModel(
    std::vector<std::shared_ptr<const NSEntityDescription>> entities)
    : entities_(std::move(entities)) {
    std::sort(entities_.begin(), entities_.end(),
              [](const auto& a, const auto& b) { return a->name() < b->name(); });
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectModel::initWithContentsOfFile(
    const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t root = nullptr;
    plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &root);
    if (root == nullptr)
        return nullptr;
    std::vector<std::shared_ptr<const NSEntityDescription>> entities;
    plist_t list =
        plist_get_node_type(root) == PLIST_DICT ? plist_dict_get_item(root, "entities") : nullptr;
    bool ok = list != nullptr && plist_get_node_type(list) == PLIST_ARRAY;
    for (uint32_t i = 0; ok && i < plist_array_get_size(list); ++i) {
        auto entity = readEntity(plist_array_get_item(list, i));
        ok = entity != nullptr;
        if (ok)
            entities.push_back(std::move(entity));
    }
    plist_free(root);
    if (!ok)
        return nullptr;
    return std::make_shared<NSManagedObjectModel>(std::move(entities));
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectModel::mergedModelFromFiles(
    const std::vector<std::string>& paths) {
    if (paths.empty())
        return nullptr;
    std::vector<std::shared_ptr<const NSEntityDescription>> all;
    for (const std::string& path : paths) {
        auto model = initWithContentsOfFile(path);
        if (!model)
            return nullptr;
        for (const auto& entity : model->entities()) {
            for (const auto& seen : all)
                if (seen->name() == entity->name())
                    return nullptr;
            all.push_back(entity);
        }
    }
    return std::make_shared<NSManagedObjectModel>(std::move(all));
}

std::shared_ptr<const NSEntityDescription> NSManagedObjectModel::entityForName(
    const std::string& name) const {
    for (const auto& e : entities_)
        if (e->name() == name)
            return e;
    return nullptr;
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectModel::mergedModelFromBundles(
    const std::vector<std::shared_ptr<NSBundle>>& bundles) {
    std::vector<std::shared_ptr<NSBundle>> searched = bundles;
    if (searched.empty())
        searched.push_back(NSBundle::mainBundle());
    std::vector<std::string> paths;
    for (const auto& bundle : searched) {
        if (!bundle)
            continue;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(bundle->resourcePath(), ec))
            if (entry.path().extension() == ".mom")
                paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return mergedModelFromFiles(paths);
}
