#pragma once

// What the HTTP side reads from a request's values and writes into an
// answer's: checks of text, preset labels, and entity tags. Plain C++.

#include <string>

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF).
bool isUtf8(const char *text);

// Whether a client's X-Request-Id may be echoed and logged unchanged: 1 to
// 128 letters, digits and "-_.:".
bool usableRequestId(const char *id);

// A preset's name as a metrics label: lower case (names are matched without
// case), and empty unless it is a short plain word.
std::string presetLabel(std::string name);

// The "preset" string of a JSON object the render service accepted, as a
// label; empty when it is not plainly there.
std::string presetOfJson(const std::string &body);

// The service tags a render by its options and this program's version; a
// client sees the tag with the render fingerprint added, so that new fonts
// or libraries never answer an old tag with other bytes. serviceTags() turns
// a client's If-None-Match back into the service's tags: those of
// `fingerprint` without it ("*" stays); others can match nothing and are
// left out.
std::string clientTag(const std::string &serviceTag, const std::string &fingerprint);
std::string serviceTags(const std::string &header, const std::string &fingerprint);
