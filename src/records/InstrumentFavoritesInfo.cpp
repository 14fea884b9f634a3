#include "base/Text.h"
#include "pda/KestConfig.h"

namespace {
// The size of the buffer a favourite is read into; a longer text reads as "".
const unsigned int kFavoriteTextSize = 1024;
}  // namespace

InstrumentFavoritesInfo::InstrumentFavoritesInfo(DataSource dataSource) : KestRecord() {
  initializeDataSource(dataSource);
}

void InstrumentFavoritesInfo::initializeDataSource(DataSource dataSource) {
  // Drops the old tree and resolves UnknownDataSource to the default.
  KestRecord::initializeDataSource(dataSource);
  // WrenDataSource: no favourites store, so no root node.
  setRoot(createStore(_dataSource, InstrumentFavoritesBaseType));
}

InstrumentFavoriteEnum InstrumentFavoritesInfo::getInstrumentFavoriteSetting(const char* name) {
  char text[kFavoriteTextSize];
  text[0] = '\0';
  getValueString(name, text, sizeof text, "");
  if (pda::ciEquals(text, "On")) return InstrumentFavoriteOn;
  if (pda::ciEquals(text, "Off")) return InstrumentFavoriteOff;
  return InstrumentFavoriteNotSet;
}

// Defined here rather than in the header, so that the library exports them
// and every program uses the library's own copies.
InstrumentFavoritesInfo::InstrumentFavoritesInfo(const InstrumentFavoritesInfo& other) = default;
InstrumentFavoritesInfo& InstrumentFavoritesInfo::operator=(const InstrumentFavoritesInfo& other) =
    default;
InstrumentFavoritesInfo::~InstrumentFavoritesInfo() = default;
