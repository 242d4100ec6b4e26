// The main window's playback wiring: the history button, a double-click on an episode, a click on
// a history row and the next series row, the timer's poll.

#include "test_player_window_fixture.h"

#include "catalogue/catalogue_client.h"
#include "playback/episode_list.h"
#include "playback/player_endpoints.h"
#include "ui/player_wiring.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

using Wiring = PlayerFixture;

TEST_F(Wiring, DoubleClickOnAnEpisodeOpensThePlayerOnce)
{
    wirePlayback(main->form());
    wirePlayback(main->form()); // a second call adds nothing
    // wirePlayback fills in the player window; tests keep their stand-in browser.
    main->form().透明标签_标题->setText(QStringLiteral("连线剧"));
    publishOpenSeries({{}, {{"01", "http://v/1/index.m3u8", "http://m/1.m3u8"}}});
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    main->series().showSeries("连线剧", *openSeries());
    QTableWidget* grid = main->form().高级表格_剧集;
    grid->setCurrentCell(0, 0);
    emit grid->cellDoubleClicked(0, 0); // as the grid reports a double-click on the current cell
    waitForSaves();
    ASSERT_NE(playerForm(), nullptr);
    EXPECT_EQ(openedOn, (std::vector<std::string>{playerPageEndpoint() + "http://v/1/index.m3u8"}));
    EXPECT_EQ(main->form().编辑框_状态->toPlainText().count(QStringLiteral("开始准备播放第 01 集")),
              1);

    // The timer's tick runs the poll: the countdown is written.
    playerForm()->选择框_连播->setChecked(true);
    playerForm()->标签_跳转->setText(QStringLiteral("x"));
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return playerForm()->标签_跳转->text() != QStringLiteral("x"); }, 5000));
    EXPECT_EQ(playerForm()->标签_跳转->text(), QStringLiteral("-60"));
}

TEST_F(Wiring, HistoryButtonThenAHistoryRowThenASeriesRowResumes)
{
    wirePlayback(main->form());
    ASSERT_TRUE(writeSetting(
        "观看历史", "数据",
        *historyWithEntry("", {"续播剧", "07", "http://v/7/index.m3u8", "http://m/7.m3u8"})));
    main->show();
    main->form().图形按钮_历史->click();
    QTreeWidget* list = main->form().超级列表框_列表;
    ASSERT_EQ(list->topLevelItemCount(), 1);
    main->series().openRow(0); // what a click on the row runs
    // The search it starts goes to the catalogue; its outcome does not matter here.
    ASSERT_TRUE(QTest::qWaitFor([this] { return main->catalogue().runningLoads() == 0; }, 60000));
    QApplication::processEvents();
    EXPECT_EQ(main->form().编辑框_搜索->text(), QStringLiteral("续播剧"));
    EXPECT_TRUE(resumePending());

    // Whatever series row is opened next resumes the stored episode.
    CatalogueItem row;
    row.title = "续播剧";
    row.typeName = "TV";
    row.playText = "第01集$http://v/1/index.m3u8";
    main->catalogue().showListing({row}, "1", "1");
    main->series().openRow(0);
    waitForSaves();
    ASSERT_NE(playerForm(), nullptr);
    EXPECT_EQ(openedOn, (std::vector<std::string>{playerPageEndpoint() + "http://v/7/index.m3u8"}));
    EXPECT_NE(
        main->form().编辑框_状态->toPlainText().indexOf(QStringLiteral("正在自动续播上次视频")),
        -1);
}

} // namespace
