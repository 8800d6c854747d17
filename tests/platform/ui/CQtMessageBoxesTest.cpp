// Message boxes asked for from worker threads: shown on the window thread while the worker waits,
// answered by the test's answerer, and released with their default answer when the window goes.
#include "platform/ui/CQtMessageBoxes.h"

#include "platform/ui/CQtWindowThread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

class QtMessageBoxes : public ::testing::Test {
protected:
    // Runs the window thread's events until done holds.
    static void PumpUntil(const std::function<bool()>& done) {
        while (!done()) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    CQtWindowThread m_window;
    CQtMessageBoxes m_boxes{m_window.Queue()};
};

TEST_F(QtMessageBoxes, AWorkersBoxIsAnsweredOnTheWindowThreadWhileTheWorkerWaits) {
    const auto windowThread = std::this_thread::get_id();
    std::vector<CMessageBoxRequest> seen;
    std::thread::id answeredOn;
    m_boxes.SetAnswerer([&](const CMessageBoxRequest& r) {
        seen.push_back(r);
        answeredOn = std::this_thread::get_id();
        return std::optional(EMessageAnswer::No);
    });
    std::atomic<bool> done{false};
    EMessageAnswer fromWorker = EMessageAnswer::Ok;
    EMessageAnswer captioned = EMessageAnswer::Ok;
    std::thread worker([&] {
        fromWorker =
            m_boxes.Show(u"Sure to delete?", u"", EMessageIcon::Question, EMessageButtons::YesNo);
        captioned = m_boxes.Show(u"Authentication failed", u"10.0.0.7", EMessageIcon::Error,
                                 EMessageButtons::Ok);
        done = true;
    });
    PumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(answeredOn, windowThread);
    EXPECT_EQ(fromWorker, EMessageAnswer::No);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, IMessageBoxes::kProgramName);
    EXPECT_EQ(seen[0].icon, EMessageIcon::Question);
    EXPECT_TRUE(seen[0].bFromWorker);
    EXPECT_EQ(seen[1].caption, u"10.0.0.7");
    EXPECT_EQ(seen[1].text, u"Authentication failed");

    // Asked on the window thread itself, the answerer is asked at once.
    EXPECT_EQ(m_boxes.Show(u"SetTimer failed", EMessageIcon::Error), EMessageAnswer::No);
    EXPECT_FALSE(seen.back().bFromWorker);
}

TEST_F(QtMessageBoxes, OpenBoxesAreReleasedWithTheirDefaultWhenTheWindowGoes) {
    m_boxes.SetAnswerer([](const CMessageBoxRequest&) { return std::nullopt; }); // leave open
    std::atomic<int> done{0};
    EMessageAnswer answers[2] = {EMessageAnswer::No, EMessageAnswer::No};
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) {
        workers.emplace_back([&, i] {
            answers[i] = m_boxes.Show(u"Internet Exception. (ErrorCode: 28)", u"10.0.0.9",
                                      EMessageIcon::Error,
                                      i == 0 ? EMessageButtons::Ok : EMessageButtons::YesNo);
            ++done;
        });
    }
    // Both boxes are up at once, the window thread still running its loop.
    PumpUntil([&] { return m_boxes.OpenCount() == 2; });
    EXPECT_EQ(done.load(), 0);
    m_boxes.Close();
    m_window.Close();
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_EQ(answers[0], EMessageAnswer::Ok);
    EXPECT_EQ(answers[1], EMessageAnswer::Yes);
    EXPECT_EQ(m_boxes.OpenCount(), 0u);
    // From now on every box answers at once, from any thread.
    EMessageAnswer late = EMessageAnswer::Ok;
    std::thread([&] {
        late = m_boxes.Show(u"late", u"", EMessageIcon::None, EMessageButtons::YesNo);
    }).join();
    EXPECT_EQ(late, EMessageAnswer::Yes);
}

TEST_F(QtMessageBoxes, AWorkerWhoseWindowThreadClosesFirstGetsTheDefault) {
    m_window.Close();
    EMessageAnswer answer = EMessageAnswer::No;
    std::thread([&] {
        answer = m_boxes.Show(u"x", u"", EMessageIcon::Warning, EMessageButtons::YesNo);
    }).join();
    EXPECT_EQ(answer, EMessageAnswer::Yes);
}

TEST_F(QtMessageBoxes, AnOperatorsAnswerToAWorkersBoxReachesTheWorker) {
    std::atomic<bool> done{false};
    EMessageAnswer answer = EMessageAnswer::Yes;
    std::thread worker([&] {
        answer =
            m_boxes.Show(u"Sure to delete?", u"", EMessageIcon::Question, EMessageButtons::YesNo);
        done = true;
    });
    PumpUntil([&] { return m_boxes.OpenCount() == 1; });
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) {
            box = b;
        }
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Sure to delete?");
    EXPECT_EQ(box->windowTitle(), "OrvaneSrv");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::No));
    box->button(QMessageBox::No)->click();
    PumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(answer, EMessageAnswer::No);
}

} // namespace
