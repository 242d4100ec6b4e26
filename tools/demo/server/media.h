#pragma once
// HLS media of the demo: every episode has addresses of its own, /media/<id>/<episode>/..., which
// are mapped onto a few clips made by prepare.sh (media/clips/<clip>/).
//   /media/<id>/<ep>/index.m3u8           master playlist naming the variant(s) by absolute path
//   /media/<id>/<ep>/<variant>/index.m3u8 media playlist, segment lines as absolute paths
//   /media/<id>/<ep>/<variant>/<file>     a segment or key file of the clip behind the variant

#include <optional>
#include <string>

#include "catalogue.h"

namespace demo {

struct MediaReply {
    std::string body;
    std::string contentType;
};

// The master playlist of an episode, or nullopt when the catalogue has no such episode.
std::optional<MediaReply> masterPlaylist(const Catalogue& catalogue, int id, int episode);

// A media playlist ("index.m3u8") or a file of the variant's clip; nullopt when the episode,
// variant or file does not exist. clipsDir is the folder holding the clip folders.
std::optional<MediaReply> variantFile(const Catalogue& catalogue, const std::string& clipsDir,
                                      int id, int episode, const std::string& variant,
                                      const std::string& file);

// Name of the clip folder that plays for an episode variant, or "" when there is none.
std::string clipFor(const CatalogueItem& item, int episode, const std::string& variant);

} // namespace demo
