#pragma once
// A label that acts as a link: underlined, hand cursor, a click signal.

#include <QColor>
#include <QLabel>

namespace velmora::gui {

class LinkLabel : public QLabel {
  Q_OBJECT
public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr, QColor color = QColor());

signals:
  void clicked();

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The dark blue of the program's links.
inline QColor LinkBlue() { return QColor(0x00, 0x40, 0x80); }

} // namespace velmora::gui
