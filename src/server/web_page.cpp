#include "server/web_page.h"

#include <cstdint>
#include <cstdio>

namespace {

// The page runs only its own script and style sheet, shows its previews
// from blob: addresses, is framed by nobody and tells no other site where
// its users came from.
constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; img-src 'self' blob:; media-src 'self' blob:; connect-src 'self' blob:; "
    "object-src 'none'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// A strong validator: 64 bits of FNV-1a over the bytes. Not a defence
// against anybody, only a tag that changes whenever the bytes do.
std::string tagOf(std::string_view bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string contentTypeOf(std::string_view name)
{
    const auto endsWith = [name](std::string_view suffix) {
        return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (endsWith(".html"))
        return "text/html; charset=utf-8";
    if (endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (endsWith(".css"))
        return "text/css; charset=utf-8";
    if (endsWith(".svg"))
        return "image/svg+xml";
    return "application/octet-stream";
}

// Whether an If-None-Match header names `etag` (weakly, as a GET compares).
bool matches(std::string_view header, std::string_view etag)
{
    std::size_t at = 0;
    while (at <= header.size()) {
        std::size_t end = header.find(',', at);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view tag = header.substr(at, end - at);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t'))
            tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t'))
            tag.remove_suffix(1);
        if (tag.substr(0, 2) == "W/")
            tag.remove_prefix(2);
        if (tag == "*" || tag == etag)
            return true;
        at = end + 1;
    }
    return false;
}

WebReply jsonError(int status, const char *message, const char *allow)
{
    WebReply reply{status,
                   {{"Content-Type", "application/json; charset=utf-8"}, {"Cache-Control", "no-store"}},
                   std::string("{\"error\":\"") + message + "\",\"key\":null}\n"};
    if (allow)
        reply.headers.emplace_back("Allow", allow);
    return reply;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

WebPage::WebPage(std::string catalogue, bool servePage)
{
    m_resources.push_back({"/v1/presets", "application/json; charset=utf-8", catalogue, {}, false});
    if (servePage) {
        std::string index;
        for (const EmbeddedFile &file : embeddedWebFiles()) {
            const std::string name = file.name;
            if (name == "index.html") {
                index = std::string(file.bytes);
                continue;
            }
            const std::string tag = tagOf(file.bytes);
            // Under an address of its own bytes, a file can be kept by the
            // browser for a year: a new program's page asks for a new
            // address. The plain address, revalidated each time, is for
            // whoever links to the file itself.
            const std::string versioned = "/web/" + tag + "/" + name;
            m_resources.push_back({versioned, contentTypeOf(name), std::string(file.bytes), {}, true});
            m_resources.push_back({"/" + name, contentTypeOf(name), std::string(file.bytes), {}, false});
            replaceAll(index, "\"/" + name + "\"", "\"" + versioned + "\"");
        }
        // The page itself is asked again each time (cheaply, by its tag),
        // so that it always names the files of the running program.
        m_resources.push_back({"/", contentTypeOf("index.html"), index, {}, false});
    }
    for (Resource &resource : m_resources)
        resource.etag = '"' + tagOf(resource.body) + '"';
}

std::optional<WebReply> WebPage::answer(std::string_view method, std::string_view url,
                                        const char *ifNoneMatch) const
{
    for (const Resource &resource : m_resources) {
        if (resource.path != url)
            continue;
        if (method != "GET" && method != "HEAD")
            return jsonError(405, "这个地址只接受 GET。", "GET, HEAD");
        WebReply reply;
        reply.headers = {
            {"ETag", resource.etag},
            {"Cache-Control", resource.immutable ? "public, max-age=31536000, immutable" : "no-cache"},
            {"Content-Security-Policy", kContentSecurityPolicy},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"},
        };
        if (ifNoneMatch && matches(ifNoneMatch, resource.etag)) {
            reply.status = 304;
            return reply;
        }
        reply.headers.emplace_back("Content-Type", resource.contentType);
        reply.body = resource.body;
        return reply;
    }
    return std::nullopt;
}
