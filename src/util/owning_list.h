// TOwningList: the list that owns its entries, shared by the queue (TDownloadList), the
// remembered credentials (TPasswordList) and the links of a page: removing or clearing
// an entry frees it, and an index outside the list raises ListError "List index out of
// bounds (%d)". The entries sit in a double-ended queue, so that taking the head of a long
// queue (as a run does after every file) costs no more than taking its tail.
#pragma once

#include "platform/errors.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <memory>
#include <utility>

namespace fetchora {

template <typename T> class TOwningList {
public:
    using Entries = std::deque<std::unique_ptr<T>>;

    TOwningList() = default;
    TOwningList(const TOwningList&) = delete;
    TOwningList& operator=(const TOwningList&) = delete;
    TOwningList(TOwningList&&) noexcept = default;
    TOwningList& operator=(TOwningList&&) noexcept = default;
    ~TOwningList() = default;

    int count() const { return static_cast<int>(entries_.size()); }

    T& at(int index) {
        checkIndex(index);
        return *entries_[static_cast<size_t>(index)];
    }
    const T& at(int index) const {
        checkIndex(index);
        return *entries_[static_cast<size_t>(index)];
    }
    T& operator[](int index) { return at(index); }
    const T& operator[](int index) const { return at(index); }

    // Removes and frees the entry at index.
    void remove(int index) {
        checkIndex(index);
        entries_.erase(entries_.begin() + index);
    }
    // Takes the entry at index out of the list and hands it to the caller.
    std::unique_ptr<T> extract(int index) {
        checkIndex(index);
        std::unique_ptr<T> entry = std::move(entries_[static_cast<size_t>(index)]);
        entries_.erase(entries_.begin() + index);
        return entry;
    }
    // Moves the entry at curIndex to newIndex, the others closing up behind it.
    void move(int curIndex, int newIndex) {
        if (curIndex == newIndex)
            return;
        checkIndex(newIndex);
        std::unique_ptr<T> entry = extract(curIndex);
        entries_.insert(entries_.begin() + newIndex, std::move(entry));
    }
    // Removes and frees every entry.
    void clear() { entries_.clear(); }
    // Removes and frees every entry for which remove(entry) is true, in one pass; the
    // others keep their order.
    template <typename Predicate> void removeIf(Predicate remove) {
        std::erase_if(entries_, [&](const std::unique_ptr<T>& entry) { return remove(*entry); });
    }
    // Puts every entry for which first(entry) is true before the others, in one pass; each
    // group keeps its order.
    template <typename Predicate> void stablePartition(Predicate first) {
        std::stable_partition(entries_.begin(), entries_.end(),
                              [&](const std::unique_ptr<T>& entry) { return first(*entry); });
    }

protected:
    // Appends entry, which the list owns from now on.
    T& append(std::unique_ptr<T> entry) {
        entries_.push_back(std::move(entry));
        return *entries_.back();
    }
    void checkIndex(int index) const {
        if (index < 0 || index >= count())
            throw ListError(index);
    }
    // The entries themselves, for the list's own sorting and bulk changes.
    Entries& entries() { return entries_; }
    const Entries& entries() const { return entries_; }

private:
    Entries entries_;
};

} // namespace fetchora
