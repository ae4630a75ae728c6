#include "server/request_values.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

bool isUtf8(const char *text)
{
    const auto *at = reinterpret_cast<const unsigned char *>(text);
    while (*at) {
        const unsigned char lead = *at;
        int more = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        ++at;
        for (int i = 0; i < more; ++i, ++at) {
            if ((*at & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (*at & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
    }
    return true;
}

bool usableRequestId(const char *id)
{
    const std::size_t length = std::strlen(id);
    if (length == 0 || length > 128)
        return false;
    return std::all_of(id, id + length, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_' || c == '.' || c == ':';
    });
}

std::string presetLabel(std::string name)
{
    if (name.size() > 64)
        return {};
    for (char &c : name) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return {};
    }
    return name;
}

std::string presetOfJson(const std::string &body)
{
    const std::string key = "\"preset\"";
    for (std::size_t found = body.find(key); found != std::string::npos; found = body.find(key, found + 1)) {
        std::size_t at = body.find_first_not_of(" \t\r\n", found + key.size());
        if (at == std::string::npos || body[at] != ':')
            continue; // the word inside some other string
        at = body.find_first_not_of(" \t\r\n", at + 1);
        if (at == std::string::npos || body[at] != '"')
            return {};
        const std::size_t end = body.find('"', at + 1);
        return end == std::string::npos ? std::string() : presetLabel(body.substr(at + 1, end - at - 1));
    }
    return {};
}

std::string clientTag(const std::string &serviceTag, const std::string &fingerprint)
{
    if (serviceTag.size() < 2 || serviceTag.back() != '"')
        return serviceTag;
    return serviceTag.substr(0, serviceTag.size() - 1) + '-' + fingerprint + '"';
}

std::string serviceTags(const std::string &header, const std::string &fingerprint)
{
    const std::string suffix = '-' + fingerprint + '"';
    std::string tags;
    std::size_t at = 0;
    while (at <= header.size()) {
        std::size_t end = header.find(',', at);
        if (end == std::string::npos)
            end = header.size();
        std::string tag = header.substr(at, end - at);
        at = end + 1;
        tag.erase(0, tag.find_first_not_of(" \t"));
        tag.erase(tag.find_last_not_of(" \t") + 1);
        if (tag == "*") {
            tags = "*";
            break;
        }
        if (tag.rfind("W/", 0) == 0)
            tag.erase(0, 2);
        if (tag.size() > suffix.size() + 1 &&
            tag.compare(tag.size() - suffix.size(), suffix.size(), suffix) == 0)
            tags += (tags.empty() ? "" : ", ") + tag.substr(0, tag.size() - suffix.size()) + '"';
    }
    return tags;
}
