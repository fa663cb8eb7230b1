// Pictures of the windows for people to look at, written as PNG files into
// the folder TORVANE_SCREENSHOTS names (the test script sets it); without
// it a picture is only taken, to check that the window draws.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

namespace torvane::test {

// `name` is the file's name, "main-window-empty.png" say.
inline void save_screenshot(QWidget& window, const char* name) {
  QCoreApplication::processEvents();
  const QPixmap picture = window.grab();
  ASSERT_FALSE(picture.isNull()) << name;
  const char* folder = std::getenv("TORVANE_SCREENSHOTS");
  if (folder == nullptr || *folder == '\0') return;
  QDir().mkpath(QString::fromUtf8(folder));
  EXPECT_TRUE(picture.save(QDir(QString::fromUtf8(folder)).filePath(QString::fromUtf8(name))))
      << name;
}

}  // namespace torvane::test
