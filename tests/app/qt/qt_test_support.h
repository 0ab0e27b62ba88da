// What the Qt toolkit's tests share: one Qt application for the whole test program (on the
// offscreen platform unless the environment names another), a bounded wait on the event loop,
// message boxes answered by the test, and screenshots under the build folder.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/linux/udev_translation.h"
#include "app/toolkit/qt/device_events.h"
#include "tests/app/linux/udev_recording.h"

namespace qvb::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_app_qt";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<QApplication> application_;
};

// Handles events until `done` holds; false when it still does not after `limit_ms` (a bound
// for a broken build, not a timing the test relies on).
template <typename Predicate>
bool WaitUntil(Predicate done, int limit_ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
  }
  return true;
}

struct SeenBox {
  std::string title;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  bool has_parent = false;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

// Answers every message box that opens while it lives, as a user would: with the next
// scripted button, or the default one. What each box showed is kept.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
  }
  void Answer(QMessageBox::StandardButton button) { answers_.push_back(button); }
  // Runs once a box is seen, before it is answered (a screenshot, say).
  std::function<void(QMessageBox&)> on_box;
  std::vector<SeenBox> seen;

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property(kAnswered).toBool()) return;
    box->setProperty(kAnswered, true);
    SeenBox record;
    record.title = box->windowTitle().toStdString();
    record.text = box->text().toStdString();
    record.icon = box->icon();
    record.modality = box->windowModality();
    record.has_parent = box->parentWidget() != nullptr;
    record.buttons = box->standardButtons();
    if (box->defaultButton()) record.default_button = box->standardButton(box->defaultButton());
    seen.push_back(record);
    if (on_box) on_box(*box);
    QMessageBox::StandardButton answer = record.default_button;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    if (QAbstractButton* button = box->button(answer)) button->click();
  }
  static constexpr const char* kAnswered = "qvb_test_answered";
  QTimer timer_;
  std::deque<QMessageBox::StandardButton> answers_;
};

// A device-event source the test fires: single codes, or the codes of a recorded udev sequence.
class HandFiredSource : public tk::qt::DeviceEventSource {
 public:
  HandFiredSource(tk::qt::DeviceEventSink sink, std::vector<HandFiredSource*>& live)
      : sink_(std::move(sink)), live_(live) {
    live_.push_back(this);
  }
  ~HandFiredSource() override { std::erase(live_, this); }
  void Fire(uintptr_t code) { sink_(code); }
  void Replay(const std::string& recording) {
    for (const auto& event : ReadUdevRecording(Recording(recording)))
      for (const uintptr_t code : hotplug::DeviceChangeCodes(event)) sink_(code);
  }

 private:
  tk::qt::DeviceEventSink sink_;
  std::vector<HandFiredSource*>& live_;
};

// Saves a picture of the widget under the build folder's screenshots/.
inline void SaveScreenshot(QWidget& widget, const std::string& name) {
  const QString folder = QStringLiteral(QVB_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  const bool saved = widget.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
  EXPECT_TRUE(saved) << name;
}

}  // namespace qvb::testing
