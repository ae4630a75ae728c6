#pragma once

// The tables a web page or a bot needs to offer the sticker's choices, as
// JSON: the presets (with the formats each takes for a still and for an
// animation, its side and its cap), the effects, the formats and the named
// looks. Read from the tables the command line's --help is built from, so
// that nothing outside them lists a choice. Plain C++ on the outside: the
// HTTP side calls it once, before it starts any thread.

#include <string>

std::string stickerCatalogueJson();
