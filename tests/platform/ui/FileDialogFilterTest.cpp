// The file dialogs' filter list and default extension: what Qt is given, and what a typed name
// becomes.
#include "platform/ui/FileDialogFilter.h"

#include <gtest/gtest.h>

namespace {

constexpr std::u16string_view kProgramFilter =
    u"Orvane-Srv Files, (*.ovx)|*.ovx|All Files (*.*)|*.*||";

TEST(FileDialogFilter, TheProgramsListGivesTwoChoicesInQtsForm) {
    const auto filters = ParseFilterList(kProgramFilter);
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].description, u"Orvane-Srv Files, (*.ovx)");
    EXPECT_EQ(filters[0].patterns, std::vector<std::u16string>{u"*.ovx"});
    EXPECT_EQ(QtNameFilter(filters[0]), u"Orvane-Srv Files, (*.ovx)");
    // "*.*" meant every file, also one without a dot.
    EXPECT_EQ(QtNameFilter(filters[1]), u"All Files (*)");
}

TEST(FileDialogFilter, MalformedListsGiveWhatIsComplete) {
    EXPECT_TRUE(ParseFilterList(u"").empty());
    EXPECT_TRUE(ParseFilterList(u"||").empty());
    EXPECT_TRUE(ParseFilterList(u"No bars at all").empty());
    // A description without patterns ends the list; the pairs before it stay.
    const auto cut = ParseFilterList(u"Text (*.txt)|*.txt|Broken||Later|*.x||");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].description, u"Text (*.txt)");
    // The last pair may lack its closing bars; blanks and empty patterns are dropped.
    const auto open = ParseFilterList(u"Logs|*.log; *.txt ;;");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].patterns, (std::vector<std::u16string>{u"*.log", u"*.txt"}));
    EXPECT_EQ(QtNameFilter(open[0]), u"Logs (*.log *.txt)");
}

TEST(FileDialogFilter, DefaultExtensionCompletesOnlyNamesWithoutADot) {
    EXPECT_EQ(DefaultSuffix(u"*.ovx"), u"ovx");
    EXPECT_EQ(DefaultSuffix(u".ovx"), u"ovx");
    EXPECT_EQ(DefaultSuffix(u"ovx"), u"ovx");
    EXPECT_EQ(DefaultSuffix(u"*."), u"");

    EXPECT_EQ(CompleteFileName(u"/home/op/directory", u"ovx"), u"/home/op/directory.ovx");
    EXPECT_EQ(CompleteFileName(u"/home/op/backup.2024", u"ovx"), u"/home/op/backup.2024");
    EXPECT_EQ(CompleteFileName(u"/home/op/saved.ovx", u"ovx"), u"/home/op/saved.ovx");
    // A dot in a folder name does not count for the file name.
    EXPECT_EQ(CompleteFileName(u"/tmp/my.dir/conf", u"ovx"), u"/tmp/my.dir/conf.ovx");
    EXPECT_EQ(CompleteFileName(u"/tmp/my.dir/", u"ovx"), u"/tmp/my.dir/");
    EXPECT_EQ(CompleteFileName(u"conf", u""), u"conf");
}

} // namespace
