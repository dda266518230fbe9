#pragma once

// Helpers for driving the window's modal dialogs from a test. A modal dialog runs its own event
// loop, so the test answers it from a timer that fires inside that loop: each answer waits until
// a dialog of its type is the active modal widget (a condition, polled), then acts on it.

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <utility>

#include "app/TDateSettings.h"

namespace kv::test {

class DialogAnswers : public QObject {
 public:
  DialogAnswers() {
    m_poll.setInterval(kPollIntervalMs);
    QObject::connect(&m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_poll.start();
  }

  // Queues an answer for the next modal dialog of type Dialog that has not been answered yet.
  template <typename Dialog>
  DialogAnswers& Then(std::function<void(Dialog&)> answer) {
    m_steps.push_back([answer = std::move(answer)](QWidget* modal) {
      auto* dialog = qobject_cast<Dialog*>(modal);
      if (dialog == nullptr) {
        return false;
      }
      answer(*dialog);
      return true;
    });
    return *this;
  }

  // Answers still waiting for their dialog.
  int Pending() const { return static_cast<int>(m_steps.size()); }

 private:
  static constexpr int kPollIntervalMs = 5;

  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (m_steps.empty() || modal == nullptr || !modal->isVisible() || modal == m_lastAnswered) {
      return;
    }
    if (m_steps.front()(modal)) {
      m_lastAnswered = modal;
      m_steps.pop_front();
    }
  }

  QTimer m_poll;
  std::deque<std::function<bool(QWidget*)>> m_steps;
  // A dialog that an answer left open is not answered twice.
  QPointer<QWidget> m_lastAnswered;
};

// The push button of a dialog whose text (with its "&" marks) is `text`, or nullptr.
inline QAbstractButton* ButtonWithText(QWidget& dialog, const QString& text) {
  for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
    if (button->text() == text && button->isVisible()) {
      return button;
    }
  }
  return nullptr;
}

// Date settings with the given short date picture, as if read from the regional settings.
inline kv::app::TDateSettings DateSettingsOf(const std::string& picture,
                                             const std::string& separator) {
  kv::app::TRegionalDateInfo info;
  info.ShortDateFormat = picture;
  info.DateSeparator = separator;
  return kv::app::TDateSettings::FromRegionalInfo(info);
}

}  // namespace kv::test
