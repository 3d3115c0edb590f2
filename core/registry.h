// The registry of live handles: one handle table per kind of handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/handle_table.h"

namespace qapi {

struct StationClient;
struct CmdrFeed;
struct AdjunctLink;

inline constexpr size_t kMaxClients = 512;
inline constexpr size_t kMaxFeeds = 32;
inline constexpr size_t kMaxLinks = 8;

struct HandleRegistry {
    HandleTable<StationClient, kMaxClients> clients;
    HandleTable<CmdrFeed, kMaxFeeds> feeds;
    HandleTable<AdjunctLink, kMaxLinks> links;
};

}  // namespace qapi
