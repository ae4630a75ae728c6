#pragma once

// The web page quillow-serve serves at "/" (a page, its script, its style
// sheet and its icon, compiled into the program) and the tables the page
// reads at /v1/presets. Plain C++ like the rest of the HTTP side.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One file of the page, as compiled in: its base name and its bytes.
struct EmbeddedFile {
    const char *name;
    std::string_view bytes;
};

// Every file of the page (generated at build time from src/server/web).
std::span<const EmbeddedFile> embeddedWebFiles();

struct WebReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

class WebPage {
public:
    // `catalogue`: the body of /v1/presets. `servePage` false (--no-web):
    // only /v1/presets is answered, the page's addresses are left to the
    // caller (which answers 404). Call before any thread may call answer().
    WebPage(std::string catalogue, bool servePage);

    // The answer to a request for `url` (the path, without the query), or
    // nothing when the address is not the page's. `ifNoneMatch` is the
    // request's If-None-Match header, or null.
    std::optional<WebReply> answer(std::string_view method, std::string_view url,
                                   const char *ifNoneMatch) const;

private:
    struct Resource {
        std::string path;
        std::string contentType;
        std::string body;
        std::string etag;
        bool immutable = false; // its address changes with its bytes
    };
    std::vector<Resource> m_resources;
};
