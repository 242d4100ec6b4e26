// Plain DPlayer pages with its built-in HLS type ('hls', hls.js on the page), autoplay off and on.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

TEST_P(PlainPages, PlaysGoesFullScreenTakesTheRateAndMovesOn)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Dplayer, PlainPages,
                         ::testing::Values(PageCase{"dplayer"}, PageCase{"dplayer-autoplay"}));

} // namespace
} // namespace playback_pages
