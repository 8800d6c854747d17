// The System tab's list with many servers, offscreen, without discovery behind it: how long the
// window thread spends filling it one row at a time as discovery does, finding rows by MAC and by
// IP address, sweeping a third of the rows away (scattered) and then 32 separate rows (the most
// that are removed run by run), with every row selected as after a login to all, and painting it.
// Prints one line per step, the best of several runs: first in the order the rows came, then
// sorted by the IP address heading (every new or changed row takes its place as it comes).
#include "console/CTabSystem.h"
#include "console/ConsoleLook.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/CStderrMessageBoxes.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr std::size_t kMaxRuns = 32;

using Clock = std::chrono::steady_clock;

double Millis(const std::function<void()>& step) {
    const auto start = Clock::now();
    step();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::u16string Text(const char* prefix, std::size_t i) {
    return QString::fromLatin1(prefix).append(QString::number(i)).toStdU16String();
}

void Measure(CTabSystem& tab, std::size_t servers, const char* order) {
    IServerListView& view = tab;
    double fill = 1e9, find = 1e9, sweep = 1e9, sweepRuns = 1e9, paint = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        tab.List().DeleteAllItems();
        fill = std::min(fill, Millis([&] {
                            for (std::size_t i = 0; i < servers; ++i) {
                                const std::size_t row = view.AppendRow(Text("10.0.", i));
                                view.SetCellText(row, EServerColumn::SystemName, Text("array-", i));
                                view.SetCellText(row, EServerColumn::Product, u"Z220-S16");
                                view.SetCellText(row, EServerColumn::Version, u"3.2.7");
                                view.SetCellText(row, EServerColumn::MAC, Text("00:1B:4D:", i));
                                view.SetCellText(row, EServerColumn::Auth, u"No");
                                if (row == 0) {
                                    view.SelectAndFocus(0);
                                }
                            }
                        }));
        find = std::min(find, Millis([&] {
                            for (std::size_t i = 0; i < servers; ++i) {
                                view.FindRow(EServerColumn::MAC, Text("00:1B:4D:", i));
                                view.FindRow(EServerColumn::IPAddr, Text("10.0.", i));
                            }
                        }));
        std::vector<std::size_t> gone;
        for (std::size_t i = 1; i < servers; i += 3) {
            gone.push_back(i);
        }
        tab.List().selectAll();
        sweep = std::min(sweep, Millis([&] { view.DeleteRows(gone); }));
        std::vector<std::size_t> runs;
        const std::size_t left = view.RowCount();
        for (std::size_t i = 1; i <= kMaxRuns; ++i) {
            runs.push_back(i * left / (kMaxRuns + 1));
        }
        tab.List().selectAll();
        sweepRuns = std::min(sweepRuns, Millis([&] { view.DeleteRows(runs); }));
        tab.List().PaintNow(); // the fill came as a stream
        paint = std::min(paint, Millis([&] {
                             tab.List().scrollToBottom();
                             tab.repaint();
                             QApplication::processEvents();
                         }));
    }
    std::printf("%-8s %6zu servers: fill %8.2f ms  find all by MAC and IP %7.2f ms  sweep a third "
                "%7.2f ms  sweep 32 rows %7.2f ms  paint %6.2f ms\n",
                order, servers, fill, find, sweep, sweepRuns, paint);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ApplyConsoleLook(application);
    // The tab alone, without discovery behind it: nothing here touches a network.
    CStderrMessageBoxes boxes;
    QWidget window;
    CTabSystem tab(boxes);
    tab.Create(window);
    window.resize(tab.size());
    window.show();
    for (std::size_t servers : {200u, 1000u, 10000u}) {
        Measure(tab, servers, "unsorted");
    }
    tab.List().sortByColumn(static_cast<int>(EServerColumn::IPAddr), Qt::DescendingOrder);
    for (std::size_t servers : {200u, 1000u, 10000u}) {
        Measure(tab, servers, "sorted");
    }
    tab.DestroyWindow();
    return 0;
}
