// Plain DPlayer pages with a custom type that attaches hls.js itself, autoplay off and on.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

TEST_P(PlainPages, PlaysGoesFullScreenTakesTheRateAndMovesOn)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(DplayerCustomHls, PlainPages,
                         ::testing::Values(PageCase{"dplayer-customhls"},
                                           PageCase{"dplayer-customhls-autoplay"}));

} // namespace
} // namespace playback_pages
