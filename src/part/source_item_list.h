#pragma once
// Lists of plain references: destroying a list never frees what it refers to; the owner of
// the objects does that.
#include <string>
#include <vector>

#include "platform/exception.h"

namespace ts {

class TtsBPSourceItem;

template <typename T>
class TtsList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    void Add(T* item) { items_.push_back(item); }
    // The reference at a 0-based position; a position outside the list raises TsException.
    T* Items(int index) const {
        if (index < 0 || index >= Count())
            throw TsException("List index out of bounds (" + std::to_string(index) + ")");
        return items_[static_cast<size_t>(index)];
    }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<T*> items_;
};

class TtsBPSourceItemList : public TtsList<TtsBPSourceItem> {};

}  // namespace ts
