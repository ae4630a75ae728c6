#pragma once

#include <QString>

// How a chat names its custom emoji, the names its users type between
// colons (":shout_1:") to post them side by side.
struct EmojiNameRule {
    int minLength = 1;
    int maxLength = 0;
    bool upperCase = false;  // capital letters allowed besides small ones
    bool hyphen = false;     // "-" allowed besides letters, digits and "_"
    QChar indexSeparator;    // between a set's base name and a tile's number
    const char *description; // the rule for the user, UTF-8
};

// Discord: 2 to 32 of A-Z, a-z, 0-9 and "_".
const EmojiNameRule &discordEmojiNames();

// Slack: small letters, digits, "-" and "_", up to 100.
const EmojiNameRule &slackEmojiNames();

// What is wrong with `name` under `rule`, for the user ("表情名只能由…"),
// or empty when the chat takes it.
QString emojiNameProblem(const EmojiNameRule &rule, const QString &name);

// The base name when none is given, and when the output's file name does
// not make names the chat takes.
QString fallbackTileName();

// The emoji name of tile `index` (from 1) of the set named `base`:
// "shout_2" for Discord, "shout-2" for Slack.
QString tileEmojiName(const EmojiNameRule &rule, const QString &base, int index);

// The base name of a set of `count` tiles: `given` when it is not empty,
// else the output's file name without its suffix when every tile's name
// made from it fits `rule`, else fallbackTileName(). Throws QuillowError
// with emojiNameProblem()'s message when `given` makes a name the chat
// does not take.
QString tileBaseName(const EmojiNameRule &rule, const QString &given, const QString &outputPath, int count);

// What pastes `count` tiles named after `base` side by side:
// ":shout_1::shout_2:".
QString tilePasteText(const EmojiNameRule &rule, const QString &base, int count);

// Where tile `index` of the set named `base` goes: beside `outputPath`, in
// its folder as written, named as the chat will name the emoji (uploading a
// file names the emoji after it), with the output's suffix:
// "out/shout.gif" and "shout" giving "out/shout_1.gif" for Discord.
QString tileFilePath(const EmojiNameRule &rule, const QString &outputPath, const QString &base, int index);
