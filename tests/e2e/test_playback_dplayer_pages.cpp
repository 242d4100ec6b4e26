// Plain DPlayer pages with its built-in HLS type ('hls', hls.js on the page), autoplay off and on,
// and the page of DPlayer's quick start: no style of its own, so the player takes a 4:3 video's
// shape, taller than the view, and its controls start below the view's edge.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

TEST_P(PlainPages, PlaysGoesFullScreenTakesTheRateAndMovesOn)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Dplayer, PlainPages,
                         ::testing::Values(PageCase{"dplayer"}, PageCase{"dplayer-autoplay"},
                                           PageCase{"dplayer-natural", "sd"}));

} // namespace
} // namespace playback_pages
