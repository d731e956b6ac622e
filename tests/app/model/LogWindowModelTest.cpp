#include "app/model/LogWindowModel.h"

#include <gtest/gtest.h>

#include <thread>

using namespace qv;

namespace {

// What a window was told, in order.
class FakeLogView : public LogWindowView {
public:
    LogWindowModel *model = nullptr;
    std::vector<std::string> pane;
    std::vector<std::string> trail;
    int timerMs = 0;  // 0: no timer running

    void captionChanged() override { trail.push_back("caption:" + model->caption()); }
    void appendLines(const std::vector<std::string> &lines) override
    {
        pane.insert(pane.end(), lines.begin(), lines.end());
        trail.push_back("append:" + std::to_string(lines.size()));
    }
    void linesCleared() override
    {
        pane.clear();
        trail.push_back("cleared");
    }
    void buttonsChanged() override { trail.push_back("buttons"); }
    void progressChanged() override
    {
        trail.push_back("bar:" + std::string(model->progressVisible() ? "shown " : "hidden ") +
                        std::to_string(model->progressValue()));
    }
    void showWindow() override { trail.push_back("show"); }
    void paintPane() override { trail.push_back("paint"); }
    void startFlushTimer(int ms) override { timerMs = ms; }
    void stopFlushTimer() override { timerMs = 0; }
    void release() override { trail.push_back("release"); }
    // What the window's timer does when it fires.
    void fire()
    {
        ASSERT_GT(timerMs, 0) << "no timer to fire";
        timerMs = 0;
        model->flush();
    }
};

struct Fixture {
    FakeLogView view;
    LogWindowModel model{view};
    Fixture() { view.model = &model; }
};

}  // namespace

// The first line reaches the pane at once; the next ones within the paint
// interval wait for the timer, in order, and are counted as written all the
// while; showing the window brings them in.
TEST(LogWindowModel, LinesReachThePaneInBatchesAndInOrder)
{
    Fixture f;
    EXPECT_EQ(f.model.caption(), "Zawartość archiwum ");
    f.model.setCaptionFromTemplate("Arch2005-03-03_1415.cab");
    EXPECT_EQ(f.model.caption(), "Zawartość archiwum Arch2005-03-03_1415.cab");

    f.model.addLine("-- Firma : A -- ");
    EXPECT_EQ(f.view.pane, std::vector<std::string>{"-- Firma : A -- "});
    for (int i = 0; i < 500; ++i)
        f.model.addLine("plik " + std::to_string(i));
    EXPECT_EQ(f.view.pane.size(), 1u) << "500 lines in a moment are not drawn one by one";
    EXPECT_EQ(f.view.timerMs, LogWindowModel::kPaintIntervalMs);
    EXPECT_EQ(f.model.lines().size(), 501u);
    EXPECT_EQ(f.model.lines().back(), "plik 499");
    f.view.fire();
    ASSERT_EQ(f.view.pane.size(), 501u);
    EXPECT_EQ(f.view.pane[1], "plik 0");
    EXPECT_EQ(f.view.trail.back(), "append:500");

    f.model.addLine("po");
    f.model.repaintPane();
    EXPECT_EQ(f.view.pane.size(), 501u) << "a repaint within the interval leaves it to the timer";
    f.model.showModeless();
    EXPECT_EQ(f.view.pane.back(), "po");
    EXPECT_EQ(f.view.trail.back(), "show");
    EXPECT_EQ(f.view.timerMs, 0) << "nothing left to wait for";

    const auto waitInterval = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(LogWindowModel::kPaintIntervalMs + 20));
    };
    waitInterval();
    f.model.addLine("później");
    EXPECT_EQ(f.view.pane.back(), "później") << "after the interval a line is drawn at once";
    waitInterval();
    f.model.repaintPane();
    EXPECT_EQ(f.view.trail.back(), "paint");

    f.model.addLine("jeszcze");
    f.model.clearLines();
    EXPECT_TRUE(f.model.lines().empty());
    EXPECT_TRUE(f.view.pane.empty());
}

// The bar shows at once and reaches its end at once; between, values wait
// like lines; hiding drops a waiting value.
TEST(LogWindowModel, ProgressAppearsAtOnceAndEndsAtOnce)
{
    Fixture f;
    f.model.setProgress(50, 200);
    EXPECT_TRUE(f.model.progressVisible());
    EXPECT_EQ(f.model.progressValue(), 250);
    f.model.setProgress(100, 200);
    EXPECT_EQ(f.model.progressValue(), 250) << "within the interval";
    f.model.setProgress(300, 200);
    EXPECT_EQ(f.model.progressValue(), LogWindowModel::kProgressMax) << "the end, and beyond it, at once";
    f.model.setProgress(0, 0);
    EXPECT_EQ(f.model.progressValue(), LogWindowModel::kProgressMax) << "nothing to do is done";
    f.model.setProgress(-5, 200);
    f.view.fire();
    EXPECT_EQ(f.model.progressValue(), 0);
    f.model.setProgress(10, 200);
    f.model.hideProgress();
    EXPECT_FALSE(f.model.progressVisible());
    EXPECT_EQ(f.view.trail.back(), "bar:hidden 0");
}

TEST(LogWindowModel, StopAndCloseRules)
{
    Fixture f;
    EXPECT_TRUE(f.model.mayClose());
    EXPECT_FALSE(f.model.stopPressed());
    f.model.setStopVisible(true);
    f.model.setCloseEnabled(false);
    EXPECT_FALSE(f.model.mayClose());
    f.model.setCloseEnabled(true);
    EXPECT_FALSE(f.model.mayClose()) << "STOP still showing";
    f.model.setStopVisible(false);
    f.model.setCloseEnabled(false);
    EXPECT_FALSE(f.model.mayClose()) << "close button disabled";
    f.model.setCloseEnabled(true);
    EXPECT_TRUE(f.model.mayClose());

    EXPECT_TRUE(f.model.stopEnabled());
    f.model.pressStop();
    EXPECT_TRUE(f.model.stopPressed());
    EXPECT_FALSE(f.model.stopEnabled()) << "STOP is pressed once";
    f.model.discard();
    EXPECT_EQ(f.view.trail.back(), "release");
}
