#pragma once
// A list that holds its members without owning them: the REST session's delegates. Members are
// compared by identity, kept in the order they were added, and neither kept alive nor released
// by the list. A member that is destroyed while still listed is skipped by `allObjects`; its
// owner should remove it first.
//
// Threads: one thread at a time (the REST client runs on one thread).

#include <algorithm>
#include <memory>
#include <vector>

template <class T>
class RQKNNonRetainingArray {
  public:
    // Appends, also when the object is already listed (it is then told twice).
    void addObject(const std::shared_ptr<T>& object) {
        if (object)
            items_.push_back({object, object.get()});
    }
    // Removes every entry of this object. A raw pointer, so that an owner can remove itself
    // from within its destructor.
    void removeObject(const T* object) {
        std::erase_if(items_, [object](const Item& item) { return item.identity == object; });
    }
    bool containsObject(const T* object) const {
        return std::any_of(items_.begin(), items_.end(),
                           [object](const Item& item) { return item.identity == object; });
    }
    // Entries, gone members included.
    size_t count() const { return items_.size(); }
    // The members still alive, in order: a snapshot, so that the list may change while they are
    // told something.
    std::vector<std::shared_ptr<T>> allObjects() const {
        std::vector<std::shared_ptr<T>> out;
        for (const Item& item : items_)
            if (auto object = item.object.lock())
                out.push_back(std::move(object));
        return out;
    }

  private:
    struct Item {
        std::weak_ptr<T> object;
        const T* identity;
    };
    std::vector<Item> items_;
};

// A new, empty list for the caller to own.
template <class T>
RQKNNonRetainingArray<T> RQKNCreateNonRetainingArray() {
    return RQKNNonRetainingArray<T>();
}
