#include "items/favorites.h"

#include "platform/exception.h"

namespace ts {

TtsBPFavorites::TtsBPFavorites(TtsProjectLink* project) : TtsBPSourceItem(project, "Favorites") {}

// The favorites record writes no log lines of its own; the head logs itself.
int32_t TtsBPFavorites::WriteToStream(Stream& stream) {
    return TtsBPSourceItem::WriteToStream(stream);
}

int32_t TtsBPFavorites::ReadFromStream(Stream& stream) {
    return TtsBPSourceItem::ReadFromStream(stream);
}

int32_t TtsBPFavorites::BackupToStream(Stream&) {
    throw TsException("TtsBPFavorites.BackupToStream is not implemented yet");
}

int32_t TtsBPFavorites::RestoreFromStream(Stream&) {
    throw TsException("TtsBPFavorites.RestoreFromStream is not implemented yet");
}

}  // namespace ts
