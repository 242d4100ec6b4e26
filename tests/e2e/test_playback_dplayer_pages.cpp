// Plain DPlayer pages: its built-in HLS type and a custom hls.js type, autoplay off and on.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

TEST_P(PlainPages, PlaysGoesFullScreenTakesTheRateAndMovesOn)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Dplayer, PlainPages,
                         ::testing::Values(PageCase{"dplayer"}, PageCase{"dplayer-autoplay"},
                                           PageCase{"dplayer-customhls"},
                                           PageCase{"dplayer-customhls-autoplay"}));

} // namespace
} // namespace playback_pages
