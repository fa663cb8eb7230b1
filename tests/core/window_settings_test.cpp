// What the windows keep in the program INI (the add-items history, the main
// window's geometry) and their layout rules.
#include <gmock/gmock.h>

#include <tuple>

#include "core/settings/add_items_history.h"
#include "core/settings/settings.h"
#include "core/settings/window_geometry.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

class StoredWindowSettings : public ::testing::Test {
 protected:
  void set_ini(const std::string& text) { ASSERT_TRUE(write_file(ini_.path(), text)); }
  TempDir dir_;
  IniAccess ini_{dir_ / "Torvane.ini"};
};

TEST_F(StoredWindowSettings, HistoryReadsWhatIsThereAndKeepsTenNewestFirst) {
  set_ini("[SETTING]\nSAVE_T=/d/\nSAVE_0=/d/\nSAVE_2=/E/\nSAVE_5=/e/\nURL_1=--\nDiv=4\n");
  AddItemsHistory h = read_add_items_history(ini_);
  EXPECT_THAT(h.save_text, Optional(std::string("/d/")));
  EXPECT_THAT(h.save_list, ElementsAre("/d/", "/e/"));  // the later of two equal entries stays
  EXPECT_TRUE(h.url_list.empty());

  // Only ASCII letters fold: "/ä/" stays beside "/Ä/".
  add_history_entry(h.save_list, "/ä/", HistoryEnd::kEnd);
  add_history_entry(h.save_list, "/Ä/", HistoryEnd::kTop);
  EXPECT_THAT(h.save_list, ElementsAre("/Ä/", "/d/", "/e/", "/ä/"));
  add_history_entry(h.save_list, "/D/", HistoryEnd::kEnd);
  EXPECT_THAT(h.save_list, ElementsAre("/Ä/", "/e/", "/ä/", "/D/"));
  for (int i = 0; i < 12; ++i)
    add_history_entry(h.url_list, "u" + std::to_string(i), HistoryEnd::kTop);
  h.save_list = {"/only/", std::string(2048, 'x')};  // too long to store, and one shorter list
  ASSERT_EQ(write_add_items_history(ini_, h), 0);
  const AddItemsHistory back = read_add_items_history(ini_);
  EXPECT_THAT(back.save_list, ElementsAre("/only/"));  // SAVE_2 and SAVE_5 are gone
  EXPECT_THAT(back.url_list,
              ElementsAre("u11", "u10", "u9", "u8", "u7", "u6", "u5", "u4", "u3", "u2"));
}

TEST_F(StoredWindowSettings, GeometryPlacesOnlyWhenAllFourAreThereAndTheDivisionFitsItsBox) {
  set_ini("[Window]\nX=10\nY=20\nWidth=700\nIconic=1\n[SETTING]\nDiv=1234\n");
  WindowGeometry g = read_window_geometry(ini_);
  EXPECT_FALSE(g.starts_minimised());  // Iconic needs usable geometry
  EXPECT_EQ(default_division_text(ini_), "123");
  g.height = 500;
  ASSERT_EQ(write_window_geometry(ini_, g), 0);
  EXPECT_TRUE(read_window_geometry(ini_).starts_minimised());
}

TEST(WindowGeometry, SplitterFollowsTheWidthWithinItsMargins) {
  struct Case {
    int x, old_width, new_width, expected;
  };
  const Case cases[] = {
      {300, 600, 700, 350},  // in proportion
      {600, 700, 400, 200},  // 342, at most the width less 200
      {200, 600, 400, 150},  // 133, at least 150
      {350, 0, 600, 350},    // before the first layout: not scaled
      {300, 600, 100, 0},    // narrower than both margins: the right one wins, then 0
  };
  for (const Case& c : cases)
    EXPECT_EQ(splitter_after_resize(c.x, c.old_width, c.new_width), c.expected)
        << c.x << " " << c.old_width << " -> " << c.new_width;
  EXPECT_EQ(std::pair(splitter_drag_position(100, 600), splitter_drag_position(500, 600)),
            std::pair(150, 400));
}

TEST(WindowGeometry, PanelOverTheLogKeepsItsHeightAndLogHeightFollows) {
  struct Case {
    int height, panel;
    bool filled;
    int log_view, log_height;
    LogPaneLayout expected;
  };
  const Case cases[] = {
      {500, 500, true, 0, 150, {344, 150, true}},    // first layout: from LogHeight
      {500, 500, true, 1, 400, {150, 344, true}},    // LogHeight leaves no 150: the least panel
      {500, 500, true, 0, -40, {494, 0, true}},      // a negative LogHeight: the log is empty
      {500, 520, false, 0, 150, {494, 0, true}},     // dragged below the bottom
      {155, 344, false, 0, 150, {155, 150, false}},  // too low for both: the panel alone
  };
  for (const Case& c : cases) {
    const LogPaneLayout got =
        log_pane_layout(c.height, c.panel, c.filled, c.log_view, c.log_height);
    EXPECT_EQ(std::tie(got.panel_height, got.log_height, got.log_shown),
              std::tie(c.expected.panel_height, c.expected.log_height, c.expected.log_shown))
        << c.height << " " << c.panel << " " << c.filled << " " << c.log_view << " "
        << c.log_height;
  }
}

}  // namespace
}  // namespace torvane::test
