#pragma once
// The source set: the four items a project can save, always the same four in the same order.
// Which of them are chosen lives only in the items' Selected flags.
#include <array>
#include <memory>
#include <string_view>

#include "part/bp_object.h"
#include "part/source_item.h"
#include "part/source_item_list.h"

namespace ts {

class TtsBPSource : public TtsBPObject {
public:
    static constexpr int kItemCount = 4;

    explicit TtsBPSource(ProjectLink* project);
    ~TtsBPSource() override;

    const TtsBPSourceItemList& ItemList() const { return itemList_; }
    // The first item whose Caption equals caption exactly (case-sensitive), or nullptr.
    TtsBPSourceItem* FindItem(std::string_view caption) const;
    // The project now has a profile: the items that collect from it when made do so now.
    void ProfileGiven();

    // The four item records one after the other, no count, no separator. Records are matched
    // to items by position, not by caption. Each returns the sum of the items' counts.
    int32_t WriteToStream(Stream& stream) override;
    int32_t ReadFromStream(Stream& stream) override;

private:
    std::array<std::unique_ptr<TtsBPSourceItem>, kItemCount> items_;
    TtsBPSourceItemList itemList_;
};

}  // namespace ts
