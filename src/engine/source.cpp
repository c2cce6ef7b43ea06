#include "engine/source.h"

#include "items/kinds/address_book.h"
#include "items/kinds/favorites.h"
#include "items/kinds/ie_settings.h"
#include "items/kinds/oe_data.h"

namespace ts {

TtsBPSource::TtsBPSource(ProjectLink* project)
    : TtsBPObject(project),
      items_{std::make_unique<TtsBPAddressBook>(project), std::make_unique<TtsBPFavorites>(project),
             std::make_unique<TtsBPIESettings>(project), std::make_unique<TtsBPOEData>(project)} {
    for (auto& item : items_) itemList_.Add(item.get());
}

TtsBPSource::~TtsBPSource() {
    // Freed in list order, as the items were made.
    for (auto& item : items_) item.reset();
}

TtsBPSourceItem* TtsBPSource::FindItem(std::string_view caption) const {
    for (TtsBPSourceItem* item : itemList_)
        if (item->Caption() == caption) return item;
    return nullptr;
}

void TtsBPSource::ProfileGiven() {
    // Of the four, only the favorites collect from the profile when they are made.
    static_cast<TtsBPFavorites&>(*items_[1]).ProfileGiven();
}

int32_t TtsBPSource::WriteToStream(Stream& stream) {
    int32_t total = 0;
    for (TtsBPSourceItem* item : itemList_) total += item->WriteToStream(stream);
    return total;
}

int32_t TtsBPSource::ReadFromStream(Stream& stream) {
    int32_t total = 0;
    for (TtsBPSourceItem* item : itemList_) total += item->ReadFromStream(stream);
    return total;
}

}  // namespace ts
