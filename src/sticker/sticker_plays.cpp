#include "sticker/sticker_plays.h"

#include "composition/quillow_error.h"
#include "sticker/sticker_fit.h"

#include <algorithm>
#include <numeric>

std::optional<int> playsWithin(int cycleMs, int maxPlays, int maxTotalMs)
{
    Q_ASSERT(cycleMs >= 0 && maxPlays >= 1);
    if (cycleMs > maxTotalMs)
        return std::nullopt;
    return cycleMs == 0 ? maxPlays : std::min(maxPlays, maxTotalMs / cycleMs);
}

Animation withFinitePlays(const Animation &animation, int revealFrames, const FinitePlayRules &rules)
{
    Q_ASSERT(!animation.frames.empty() && rules.minFrames <= rules.maxFrames && rules.maxFrames >= 2);
    // Images share their pixels, so this compares cheaply when they do.
    const bool wrapped = animation.frames.front().image != animation.frames.back().image;
    // The leading copy of the finished picture is one more frame.
    const int room = rules.maxFrames - (wrapped ? 1 : 0);
    Animation made = animation;
    const int count = int(animation.frames.size());
    if (count > room) {
        const int keep = revealFrames - (count - room);
        if (keep < 2)
            throw QuillowError(QStringLiteral("%1的动画最多只能有 %2 帧，这个效果有 %3 帧")
                                   .arg(rules.app)
                                   .arg(rules.maxFrames)
                                   .arg(count + (wrapped ? 1 : 0)));
        made = withFewerRevealFrames(animation, revealFrames, keep);
    }

    if (wrapped) {
        AnimationFrame &end = made.frames.back();
        AnimationFrame lead{end.image, end.delayMs / 2};
        end.delayMs -= lead.delayMs;
        made.frames.insert(made.frames.begin(), std::move(lead));
    }
    while (int(made.frames.size()) < rules.minFrames) {
        // The latest of the longest, so the finished picture's hold goes first.
        const auto longest = std::max_element(
            made.frames.rbegin(), made.frames.rend(),
            [](const AnimationFrame &a, const AnimationFrame &b) { return a.delayMs < b.delayMs; });
        const auto at = longest.base() - 1;
        AnimationFrame half{at->image, at->delayMs / 2};
        at->delayMs -= half.delayMs;
        made.frames.insert(at, std::move(half));
    }

    const long long cycleMs =
        std::accumulate(made.frames.begin(), made.frames.end(), 0LL,
                        [](long long sum, const AnimationFrame &frame) { return sum + frame.delayMs; });
    const std::optional<int> plays = cycleMs > rules.maxTotalMs
                                         ? std::nullopt
                                         : playsWithin(int(cycleMs), rules.maxPlays, rules.maxTotalMs);
    if (!plays)
        throw QuillowError(QStringLiteral("%1的动画播放一遍要 %2 毫秒，超过了所有播放合计 %3 毫秒的上限")
                               .arg(rules.app)
                               .arg(cycleMs)
                               .arg(rules.maxTotalMs));
    made.loopCount = *plays;
    return made;
}
