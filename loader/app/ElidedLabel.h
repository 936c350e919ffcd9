// A one-line text field that draws a text too long for it elided in the
// middle, so that both ends stay in sight (a path's folder and its file name),
// and shows the whole text as its tooltip then. text() stays the whole text.
#pragma once

#include <QLabel>

namespace loader {

class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    // The text as drawn.
    QString ShownText() const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace loader
