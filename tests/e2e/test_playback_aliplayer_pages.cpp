// Plain Aliplayer pages, autoplay off and on.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

TEST_P(PlainPages, PlaysGoesFullScreenTakesTheRateAndMovesOn)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Aliplayer, PlainPages,
                         ::testing::Values(PageCase{"aliplayer"}, PageCase{"aliplayer-autoplay"}));

} // namespace
} // namespace playback_pages
