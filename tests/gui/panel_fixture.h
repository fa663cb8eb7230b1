// The panels' and dialogs' tests: a download manager over the real engine
// in a temporary program folder (see manager_fixture.h), the program INI
// there, and the list's rows as the panel registered them. Items point at
// 127.0.0.1:1, where nothing listens; only the rows count.
#pragma once

#include <QAbstractButton>
#include <QTest>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/core/manager_fixture.h"

namespace torvane::test {

// Division, save folder and URL of an item.
using Row = std::tuple<std::string, std::string, std::string>;

// A manager the test starts (after writing its INI, say), and its settings.
class DialogTest : public ManagerTest {
 protected:
  ProgramSettings settings() {
    return manager_->with_settings([](ProgramSettings& s) { return s; });
  }

  std::unique_ptr<DownloadManager> manager_;
  IniAccess ini_{dir_ / "Torvane.ini"};
};

class PanelTest : public DialogTest {
 protected:
  void SetUp() override { manager_ = start(clock_, 0); }

  std::vector<Row> rows() const {
    return manager_->with_items([](const ItemList& list) {
      std::vector<Row> out;
      for (std::size_t i = 0; i < list.size(); ++i) {
        const ListItem& item = *list.at(static_cast<std::int64_t>(i));
        out.emplace_back(item.division_text, item.save_folder, item.url);
      }
      return out;
    });
  }

  static void click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  }
};

}  // namespace torvane::test
